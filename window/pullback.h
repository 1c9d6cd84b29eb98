#pragma once

#include <optional>

// Where a window dropped partly off the screen is pulled back to. All values in twips, as
// single-precision numbers: SW, SH the full primary screen, FL, FT, FW, FH the window's outer
// left, top, width and height.
struct PullBack
{
    std::optional<float> left; // a new Left, or none to leave it
    std::optional<float> top; // a new Top, or none to leave it
};

// A tenth or more of the width (height) beyond the right (bottom) edge pulls the window against
// that edge; otherwise a tenth or more beyond the left (top) edge pulls it to 0. The far edge is
// tested first, and reaching exactly a tenth counts as beyond.
PullBack pullBackRule(float SW, float SH, float FL, float FT, float FW, float FH);
