#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/comm_control.h"
#include "link/event_loop.h"
#include "link/link_engine.h"
#include "link/link_observer.h"
#include "link/link_timing.h"
#include "model/device_info_bytes.h"
#include "model/device_model.h"
#include "port/com_names.h"

namespace km27 {

// How long a search goes on before it says that no device is there. A step is what the engine
// counts in SearchSteps(): one port's scan period (perPort) or one cycle over every port.
struct SearchRules {
  bool perPort = false;
  int passes = 1;
  int passesWhenSpoiled = 1;  // when an answer came back spoiled: a device on a noisy line
};

// What an engine is built from. The hosts differ in the comm control they give the code box, so
// they hand over a maker for it.
struct EngineParts {
  EventLoop& loop;
  LinkObserver& observer;
  LinkTiming timing;
  std::optional<DeviceInfo> info;  // what a first download sends, where the model carries it
  std::function<std::unique_ptr<CommControl>()> makeComm;
  // Where COM n points (its onlyPort: the one port looked at); absent: the process's
  // environment, read at each scan.
  std::optional<ComEnvironment> env;
  // Whether a COM port naming a URL may be probed by connecting to it (the command line may
  // wait). The window's loop may not: there a URL counts as present, and the comm control
  // connects off the loop's thread.
  bool probeByConnecting = true;
};

struct DeviceModelInfo {
  DeviceModel model;
  const char* name;   // on the command line: --model KM27A
  int lastCom;        // looked for on COM1..lastCom
  SearchRules search;
  bool carriesDeviceInfo;  // the 96 bytes of DDINFO.txt travel with the programme
  std::unique_ptr<LinkEngine> (*makeEngine)(const EngineParts&);
};

// Every model, in the order a search without a model goes through them.
const DeviceModelInfo* DeviceModelsBegin();
const DeviceModelInfo* DeviceModelsEnd();
struct DeviceModelList {
  const DeviceModelInfo* begin() const { return DeviceModelsBegin(); }
  const DeviceModelInfo* end() const { return DeviceModelsEnd(); }
};
inline DeviceModelList DeviceModels() { return {}; }

const DeviceModelInfo& ModelInfo(DeviceModel model);
// By name, as typed: "KM27A" or "km27a"; nullptr for none.
const DeviceModelInfo* FindDeviceModel(const std::string& name);
// The highest COM number any model is looked for on.
int LastComOfAnyModel();

}  // namespace km27
