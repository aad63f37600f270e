#include "sim/box_sim.h"

#include <cstdio>

int RunBoxSim(int, char**) {
  std::fprintf(stderr, "KM27A simulation not available yet\n");
  return 2;
}
