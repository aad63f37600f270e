#include "ui/link_factory.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, QWidget* window) {
  // The code-transmitter and code-box engines plug in here.
  (void)model;
  (void)param;
  (void)host;
  (void)window;
  return nullptr;
}
