#pragma once

#include "window/form1.h"

// Creates the window, runs Form_Load and then the event loop. A failure in Form_Load is reported
// and ends the program before the window is shown. Returns the exit status.
int runForm1(Form1Services services = {});
