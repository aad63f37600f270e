#include "ui/link_factory.h"

#include "link/device_models.h"
#include "link/link_timing.h"
#include "link/serial_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing, km27::EventLoop& loop) {
  const km27::EngineParts parts{param, host, timing, info,
                                [&loop] { return std::make_unique<km27::SerialComm>(loop); }, std::nullopt};
  return km27::ModelInfo(model).makeEngine(parts);
}
