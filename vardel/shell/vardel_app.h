#pragma once
// The application object: one console per user, the main window, the loop.

#include <string>

// Runs the console; the process's exit code.
int RunVardel(int argc, char** argv);
