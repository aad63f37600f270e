#include "ui/link_factory.h"

#include "link/link_timing.h"
#include "link/transmitter_link.h"
#include "ui/controls/ms_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, const std::optional<km27::DeviceInfo>& info) {
  if (model == km27::CodeBox) return CreateBoxLinkEngine(param, host, km27::ActiveLinkTiming());
  return std::make_unique<km27::TransmitterLink>(param, host, info, km27::ActiveLinkTiming());
}
