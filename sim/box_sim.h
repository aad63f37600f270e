#pragma once

namespace km27::sim {}

// Runs the simulated KM27A code box; `km27sim --model KM27A ...` hands its whole command line
// here. Returns the process exit code.
int RunBoxSim(int argc, char** argv);
