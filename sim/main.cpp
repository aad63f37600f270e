#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/device_models.h"
#include "sim/box_sim.h"
#include "sim/transmitter_sim.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: km27sim --model KM27A|KM27C [--com-dir DIR] [--com N] [--no-pace] [options]\n"
               "  --com-dir DIR  directory of the COM links (default: $KM27_COM_DIR)\n"
               "  --com N        the machine answers on COM N (default 1)\n"
               "  --no-pace      send at once instead of at the line's baud rate\n"
               "  --help after --model lists the machine's own options and faults\n");
}

}  // namespace

// km27sim --model M: the options every machine takes are read here, the rest by the machine.
int main(int argc, char** argv) {
  km27::sim::SimCommandLine line;
  if (const char* dir = std::getenv("KM27_COM_DIR")) line.comDir = dir;
  const km27::DeviceModelInfo* model = nullptr;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--model" && hasValue) {
      model = km27::FindDeviceModel(argv[++i]);
      bad = bad || !model;
    } else if (a == "--com-dir" && hasValue) {
      line.comDir = argv[++i];
    } else if (a == "--com" && hasValue) {
      line.com = std::atoi(argv[++i]);
    } else if (a == "--no-pace") {
      line.paced = false;
    } else {
      line.rest.push_back(a);
    }
  }
  bool help = false;
  for (const std::string& a : line.rest) help = help || a == "--help";
  if (bad || !model || (!help && (line.comDir.empty() || line.com < 1))) {
    Usage();
    return help && !bad ? 0 : 2;
  }
  switch (model->model) {
    case km27::CodeBox: return RunBoxSim(line);
    case km27::CodeTransmitter: return RunTransmitterSim(line);
  }
  return 2;
}
