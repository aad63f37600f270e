#include "port/port_claim.h"

namespace km27 {

bool IsOwnTerminal(const std::string&, PortHolder*) { return false; }

std::string LockDirectory() { return {}; }

bool PortLock::Acquire(const std::string&, const std::string&, PortHolder*) { return true; }

void PortLock::Release() { path_.clear(); }

bool LockHeld(const std::string&, const std::string&, PortHolder*) { return false; }

bool OpenDevices::Holder(const std::string&, int, PortHolder*) { return false; }

void OpenDevices::Read() { read_ = true; }

}  // namespace km27
