#include "ui/link_factory.h"

#include "link/device_models.h"
#include "ui/controls/ms_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::EventLoop& loop,
                                                   km27::LinkObserver& observer,
                                                   const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing) {
  const km27::EngineParts parts{loop, observer, timing, info, [] { return std::make_unique<CMSComm>(); },
                                std::nullopt};
  return km27::ModelInfo(model).makeEngine(parts);
}
