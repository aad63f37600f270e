#include "ui/link_factory.h"

#include "link/link_timing.h"
#include "ui/controls/ms_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, QWidget* window) {
  // The code-transmitter and code-box engines plug in here.
  (void)window;
  if (model == km27::CodeBox) return CreateBoxLinkEngine(param, host, km27::ActiveLinkTiming());
  return nullptr;
}
