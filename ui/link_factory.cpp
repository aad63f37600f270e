#include "ui/link_factory.h"

#include "link/device_models.h"
#include "link/link_timing.h"
#include "ui/controls/ms_comm.h"

std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing) {
  const km27::EngineParts parts{param, host, timing, info,
                                [] { return std::make_unique<CMSComm>(); }, std::nullopt};
  return km27::ModelInfo(model).makeEngine(parts);
}
