#pragma once

#include "window/form1.h"

// Creates the window, runs its load() and then the event loop. A failure in load() is reported
// and ends the program before the window is shown. Returns the exit status.
int runForm1(Form1Services services = {});
