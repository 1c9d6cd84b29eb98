#include "pullback.h"

namespace {

// One axis: products and differences in double precision, each result rounded to single.
std::optional<float> pullBackAxis(float screen, float position, float size)
{
    const float far = float(double(screen) - double(size) * 0.9);
    if (far <= position)
        return float(double(screen) - double(size));
    const float near = float(-(double(size) * 0.1));
    if (near >= position)
        return 0.0f;
    return std::nullopt;
}

} // namespace

PullBack pullBackRule(float SW, float SH, float FL, float FT, float FW, float FH)
{
    return {pullBackAxis(SW, FL, FW), pullBackAxis(SH, FT, FH)};
}
