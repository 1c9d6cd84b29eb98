#pragma once

#include "window/form1.h"

// What must be settled before the application object exists: the banner's browser engine
// refuses to start as root unless its sandbox is off.
void prepareProcess();

// Creates the window, runs Form_Load and then the event loop. A failure in Form_Load is reported
// and ends the program before the window is shown. Returns the exit status.
int runForm1(Form1Services services = {});
