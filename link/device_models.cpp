#include "link/device_models.h"

#include <algorithm>
#include <iterator>

#include "link/box_link.h"
#include "link/transmitter_link.h"
#include "port/net_url.h"

namespace km27 {

namespace {

// The comm control lives as long as the link that drives it; the link goes first.
struct CommHolder {
  std::unique_ptr<CommControl> comm;
};

class OwningBoxLink : private CommHolder, public BoxLink {
 public:
  OwningBoxLink(const EngineParts& p, BoxLink::PortProbe probe)
      : CommHolder{p.makeComm()}, BoxLink(p.loop, p.observer, *comm, p.timing, std::move(probe)) {}
};

std::unique_ptr<LinkEngine> MakeBoxLink(const EngineParts& p) {
  BoxLink::PortProbe probe;
  if (p.env) probe = [env = *p.env](int n) { return ProbeComPort(n, env); };
  if (!p.probeByConnecting)
    probe = [env = p.env](int n) {
      const ComEnvironment e = env ? *env : ComEnvironment::FromProcess();
      return IsNetUrl(ComDevicePath(n, e)) || ProbeComPort(n, e);
    };
  auto link = std::make_unique<OwningBoxLink>(p, std::move(probe));
  if (p.env && p.env->onlyPort > 0) link->SetComPorts(uint8_t(p.env->onlyPort), uint8_t(p.env->onlyPort));
  return link;
}

std::unique_ptr<LinkEngine> MakeTransmitterLink(const EngineParts& p) {
  auto link = std::make_unique<TransmitterLink>(p.loop, p.observer, p.info, p.timing);
  if (p.env) link->SetComEnvironment(*p.env);
  return link;
}

// The code transmitter first: absent ports cost its search nothing, while the box needs a
// scan period on every number.
const DeviceModelInfo kModels[] = {
    {CodeTransmitter, "KM27C", kTransmitterComPorts,
     // One monitor cycle goes over every port; a spoiled answer is worth as many more cycles
     // as an exchange has attempts.
     SearchRules{false, 1, kExchangeAttempts}, true, MakeTransmitterLink},
    {CodeBox, "KM27A", kBoxComPorts,
     // A box is seen only when it speaks within the period its port is open: two periods each.
     SearchRules{true, 2, 2}, false, MakeBoxLink},
};

}  // namespace

const DeviceModelInfo* DeviceModelsBegin() { return std::begin(kModels); }
const DeviceModelInfo* DeviceModelsEnd() { return std::end(kModels); }

const DeviceModelInfo& ModelInfo(DeviceModel model) {
  for (const DeviceModelInfo& m : kModels)
    if (m.model == model) return m;
  return kModels[0];
}

const DeviceModelInfo* FindDeviceModel(const std::string& name) {
  for (const DeviceModelInfo& m : kModels) {
    std::string lower = m.name;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (name == m.name || name == lower) return &m;
  }
  return nullptr;
}

int LastComOfAnyModel() {
  int last = 0;
  for (const DeviceModelInfo& m : kModels) last = std::max(last, m.lastCom);
  return last;
}

}  // namespace km27
