#pragma once

// km27param --help and --version: answered before any window or display is needed.
// Returns the exit code when one of them was given, else -1 (start the window).
int HandleInformationOptions(int argc, char** argv);
