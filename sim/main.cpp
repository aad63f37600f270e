#include <cstdio>
#include <cstring>
#include <string>

#include "sim/box_sim.h"
#include "sim/transmitter_sim.h"

// km27sim --model KM27A|KM27C [options]: each model parses the rest of the command line.
int main(int argc, char** argv) {
  std::string model;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--model") == 0) model = argv[i + 1];
  if (model == "KM27A") return RunBoxSim(argc, argv);
  if (model == "KM27C") return RunTransmitterSim(argc, argv);
  std::fprintf(stderr, "usage: km27sim --model KM27A|KM27C [options]  (--help after --model for the options)\n");
  return 2;
}
