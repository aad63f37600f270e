#include "ui/link_factory.h"

#include <unistd.h>

#include <string>

#include "app/param_app.h"
#include "link/link_timing.h"
#include "link/transmitter_link.h"
#include "ui/controls/ms_comm.h"

namespace {
// The device information file lives in the start-up directory; windows opened without the
// application object (tests) fall back to the current one.
std::string StartDirectory() {
  if (g_startDir[0] != '\0') return g_startDir;
  char buf[4096];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}
}  // namespace

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, QWidget* window) {
  (void)window;
  if (model == km27::CodeBox) return CreateBoxLinkEngine(param, host, km27::ActiveLinkTiming());
  return std::make_unique<km27::TransmitterLink>(param, host, StartDirectory(), km27::ActiveLinkTiming());
}
