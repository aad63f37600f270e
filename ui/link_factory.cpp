#include "ui/link_factory.h"

#include "link/device_models.h"
#include "link/serial_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::EventLoop& loop,
                                                   km27::LinkObserver& observer,
                                                   const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing) {
  km27::EngineParts parts{loop, observer, timing, info,
                          [&loop] { return std::make_unique<km27::SerialComm>(loop); }, std::nullopt};
  parts.probeByConnecting = false;
  return km27::ModelInfo(model).makeEngine(parts);
}
