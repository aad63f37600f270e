#pragma once
#include <memory>
#include <optional>

#include "link/event_loop.h"
#include "link/link_engine.h"
#include "link/link_observer.h"
#include "link/link_timing.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"

// The one place where the main window gets the link of its lower machine. nullptr means no
// link: the lamp stays black and upload/download stay disabled. `info`: the device information
// a code transmitter's first download sends; without it the device's own is sent back. The
// engine, its timers and the code box's comm control run on `loop`.
std::unique_ptr<km27::LinkEngine> CreateLinkEngine(km27::DeviceModel model, km27::EventLoop& loop,
                                                   km27::LinkObserver& observer,
                                                   const std::optional<km27::DeviceInfo>& info,
                                                   const km27::LinkTiming& timing);
