#pragma once
#include <memory>
#include <string>
#include <vector>

#include "port/port.h"
#include "port/port_claim.h"

namespace km27 {

// Linux has no COM namespace, so the tool keeps one: COM n is
//  - $KM27_COM_DIR/COMn when that variable is set, and nothing else (tests, simulators);
//  - else the COMn link in ~/.config/km27/com when the operator made one;
//  - else the next serial device present: /dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS* with a
//    real UART behind them, each by number. The devices no link pins fill the numbers no link
//    takes, in order, so pinning one adapter leaves no other without a number.
// A COMn entry may name a line at a terminal server instead: a link whose text is the URL
// (ln -s rfc2217://10.1.2.3:4001 COM3) or a regular file whose first line is; then the URL
// stands for COM n.
struct ComEnvironment {
  std::string comDir;  // $KM27_COM_DIR; empty = not set
  std::string userDir;  // ~/.config/km27/com
  std::string devDir = "/dev";
  std::string sysTtyDir = "/sys/class/tty";  // <name>/type: the UART type, readable by anyone
  // When set, COM `onlyPort` is the one number with a device behind it (the command line was
  // told which port to use): `onlyDevice` when given, else what COM n is by the rules above.
  int onlyPort = 0;
  std::string onlyDevice;

  static ComEnvironment FromProcess();
};

inline constexpr const char kComDirVariable[] = "KM27_COM_DIR";

// Device path (or URL) of COM n (1-based); empty when no device stands behind that number.
std::string ComDevicePath(int n, const ComEnvironment& env);
std::string ComDevicePath(int n);

// Paths of COM 1..count at one moment (index 0 = COM1), so that a scan over many numbers
// looks at /dev once.
std::vector<std::string> ComDevicePaths(int count, const ComEnvironment& env);

// A closed port of the kind COM numbers stand for here: a POSIX serial line or a line at a
// terminal server, whichever the name it is opened with calls for.
std::unique_ptr<Port> NewComPort();

// Opens COM n exclusively into `port` (raw, 9600 8N1); a port another program holds is
// skipped untouched (see Port::Open, also for `seen`). Failures other than "no such
// device" are remembered for the operator (PortProblemText).
bool OpenComPort(Port& port, int n, const std::string& devicePath, OpenDevices* seen = nullptr);
bool OpenComPort(Port& port, int n);

// True when COM n exists and nobody else holds it; the port is closed again.
bool ProbeComPort(int n);
bool ProbeComPort(int n, const ComEnvironment& env);

// What stands behind a COM number, found out without opening the device (so without touching
// a line another program uses): for a listing of the ports.
struct ComPortState {
  enum Kind { kAbsent, kFree, kTaken, kNoAccess, kUnusable };
  Kind kind = kAbsent;
  std::string device;  // the device itself (links resolved); empty when absent
  PortHolder holder;   // kTaken: who, where known
  std::string reason;  // kNoAccess, kUnusable: why, with the fix (Chinese)
};
ComPortState InspectComPort(int n, const std::string& devicePath, OpenDevices& seen);

// The directory COM entries are kept in: $KM27_COM_DIR when set, else ~/.config/km27/com.
std::string ComEntryDir(const ComEnvironment& env);
// What the entry COMn there names, as written: a device path or a URL; empty when there is no
// entry (the number then goes to the next serial device, or to none under $KM27_COM_DIR).
std::string ComEntryTarget(int n, const ComEnvironment& env);
// Makes COMn name `target` (a device path or a URL) or, when it is empty, removes the entry.
// Atomic: a new link is renamed over the old entry, so a search never sees half of it.
// False with the system's error in `err`.
bool SetComEntry(int n, const std::string& target, const ComEnvironment& env, int* err);

// The last open failure per COM number that was not "no such device", as text for the lamp's
// tooltip (device, OS reason and the fix); empty when every port opened or was absent.
std::string PortProblemText();
void ForgetPortProblems();

// One line of that text for a given failure (exposed for tests); `holder` names who has a
// busy port, where known.
std::string DescribePortFailure(int n, const std::string& devicePath, int err, const PortHolder& holder = {});

}  // namespace km27
