#pragma once
#include <memory>
#include <optional>

#include "link/event_loop.h"
#include "link/link_engine.h"
#include "link/link_host.h"
#include "link/link_timing.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "model/param_model.h"

// The one place where the main window gets the link of its lower machine. nullptr means no
// link: the lamp stays black and upload/download stay disabled. `info`: the device information
// a code transmitter's first download sends; without it the device's own is sent back. The
// code box's comm control runs on `loop`.
std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::ParamModel& param,
                                                   km27::LinkHost& host, const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing, km27::EventLoop& loop);
