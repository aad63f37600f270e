#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "model/messages.h"
#include "port/serial_port.h"
#include "port/win32_text.h"

namespace km27 {

namespace {

// COM10 and up are reachable only through the device namespace; COM1..9 work either way.
std::wstring DeviceName(const std::string& path) {
  const bool bareCom = path.size() > 3 && (path.compare(0, 3, "COM") == 0 || path.compare(0, 3, "com") == 0) &&
                       path.find_first_not_of("0123456789", 3) == std::string::npos;
  return Wide(bareCom ? "\\\\.\\" + path : path);
}

bool SupportedBaud(int baud) {
  static const int kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int b : kBauds)
    if (b == baud) return true;
  return false;
}

// A device that went away (an adapter pulled, the far end of a pty closed) rather than a fault.
bool IsGone(DWORD e) {
  return e == ERROR_BROKEN_PIPE || e == ERROR_NOT_READY || e == ERROR_DEVICE_NOT_CONNECTED || e == ERROR_BAD_COMMAND ||
         e == ERROR_GEN_FAILURE || e == ERROR_INVALID_HANDLE || e == ERROR_DEVICE_REMOVED;
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// Every read is overlapped, so that an abort can end it (a blocked synchronous read cannot be
// cut short). A watched line keeps one one-byte read pending; what it brings waits in `early`
// for the next read. Writes hand the driver a copy and go on.
struct SerialPort::Native {
  HANDLE h = INVALID_HANDLE_VALUE;
  DCB found{};
  COMMTIMEOUTS foundTimeouts{};
  bool haveFound = false;
  COMMTIMEOUTS applied{};
  bool haveApplied = false;

  OVERLAPPED readOv{};
  OVERLAPPED writeOv{};
  OVERLAPPED watchOv{};
  bool watchPending = false;
  DWORD watchError = 0;  // the watched read ended with this; 0 while all is well
  uint8_t watchByte = 0;
  std::deque<uint8_t> early;
  std::vector<uint8_t> writing;  // the bytes of the write in progress
  bool writePending = false;

  Native() {
    readOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watchOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~Native() {
    CloseHandle(readOv.hEvent);
    CloseHandle(writeOv.hEvent);
    CloseHandle(watchOv.hEvent);
  }

  bool Apply(const COMMTIMEOUTS& t) {
    if (haveApplied && SameTimeouts(t, applied)) return true;
    if (!SetCommTimeouts(h, const_cast<COMMTIMEOUTS*>(&t))) return false;
    applied = t;
    haveApplied = true;
    return true;
  }

  // Takes the watched read's byte once it has come (`wait`: also while it is still on its way,
  // cancelling it). False while it is pending.
  bool SettleWatch(bool wait) {
    if (!watchPending) return true;
    if (wait) CancelIoEx(h, &watchOv);
    DWORD got = 0;
    if (!GetOverlappedResult(h, &watchOv, &got, wait ? TRUE : FALSE)) {
      const DWORD e = GetLastError();
      if (e == ERROR_IO_INCOMPLETE) return false;
      if (e != ERROR_OPERATION_ABORTED && e != ERROR_TIMEOUT) watchError = e;
    }
    watchPending = false;
    if (got == 1) early.push_back(watchByte);
    return true;
  }

  // A read that returns as soon as one byte is there: the line's readiness, for the loop.
  void ArmWatch() {
    if (watchPending || watchError) return;
    COMMTIMEOUTS t{};  // no limits: it waits for the first byte
    Apply(t);
    ResetEvent(watchOv.hEvent);
    DWORD got = 0;
    if (ReadFile(h, &watchByte, 1, &got, &watchOv)) {
      if (got == 1) early.push_back(watchByte);
      SetEvent(watchOv.hEvent);  // come back at once for what it brought
      return;
    }
    const DWORD e = GetLastError();
    if (e == ERROR_IO_PENDING) {
      watchPending = true;
      return;
    }
    watchError = e;
    SetEvent(watchOv.hEvent);
  }

  size_t TakeEarly(uint8_t* buf, size_t n) {
    size_t k = 0;
    while (k < n && !early.empty()) {
      buf[k++] = early.front();
      early.pop_front();
    }
    return k;
  }

  // Finishes the write before this one and starts `n` bytes within the write limits: 0 when
  // they went at once, ERROR_IO_PENDING while the driver sends them, else the failure.
  DWORD StartWrite(const SerialTimeouts& limits, const uint8_t* data, size_t n, DWORD* done) {
    *done = 0;
    DWORD moved;
    if (const DWORD e = FinishWrite(&moved)) return e;
    COMMTIMEOUTS t = haveApplied ? applied : COMMTIMEOUTS{};
    t.WriteTotalTimeoutConstant = DWORD(limits.writeTotalConstantMs);
    t.WriteTotalTimeoutMultiplier = DWORD(limits.writeTotalPerByteMs);
    Apply(t);
    ResetEvent(writeOv.hEvent);
    return WriteFile(h, data, DWORD(n), done, &writeOv) ? 0 : GetLastError();
  }

  // Waits for a transfer started on `ov` to end or `abort` to be raised, which cancels it.
  // 0 when it ended well, ERROR_OPERATION_ABORTED when aborted, else the failure; `moved` is
  // what it moved either way. A transfer that ran out of time ends well with less: some
  // drivers (wine's among them) end it with ERROR_TIMEOUT.
  DWORD Await(OVERLAPPED& ov, NativeHandle abort, DWORD* moved) {
    HANDLE waits[2] = {ov.hEvent, reinterpret_cast<HANDLE>(abort)};
    const bool aborted = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    if (aborted) CancelIoEx(h, &ov);
    if (GetOverlappedResult(h, &ov, moved, TRUE)) return 0;
    const DWORD e = GetLastError();
    if (aborted || e == ERROR_OPERATION_ABORTED) return ERROR_OPERATION_ABORTED;
    return e == ERROR_TIMEOUT ? 0 : e;
  }

  // Finishes the write in progress, within its time limits.
  DWORD FinishWrite(DWORD* moved) {
    *moved = 0;
    if (!writePending) return 0;
    writePending = false;
    if (!GetOverlappedResult(h, &writeOv, moved, TRUE)) return GetLastError();
    return 0;
  }
};

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() { Close(); }

bool SerialPort::IsOpen() const { return native_ && native_->h != INVALID_HANDLE_VALUE; }

IoStatus SerialPort::Fail(int err) {
  lastError_ = err;
  systemError_ = 0;
  return err == EIO ? IoStatus::HungUp : IoStatus::Error;
}

bool SerialPort::Refuse(int, int err) {
  lastError_ = err;
  return false;
}

namespace {
// The system's failure, kept in both terms; the status a transfer sees.
IoStatus SystemFailure(int* lastError, unsigned long* systemError, DWORD e) {
  *systemError = e;
  *lastError = IsGone(e) ? EIO : ErrnoOfWin32(e);
  return IsGone(e) ? IoStatus::HungUp : IoStatus::Error;
}
}  // namespace

bool SerialPort::Open(const std::string& devicePath, OpenDevices*) {
  Close();
  holder_ = PortHolder{};
  // Share mode 0 is the claim: another program's open is refused with access denied, and so
  // is ours while another program has the line.
  HANDLE h = CreateFileW(DeviceName(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SystemFailure(&lastError_, &systemError_, GetLastError());
    if (lastError_ == EIO) lastError_ = ENOENT;  // a port that vanished as we opened it
    // Windows says "access denied" and never who: its words are all the operator gets.
    if (lastError_ == EBUSY) holder_.refusal = Win32ErrorText(DWORD(systemError_));
    return false;
  }
  auto native = std::make_unique<Native>();
  native->h = h;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
    CloseHandle(h);
    lastError_ = ENOTTY;  // a file or a device that is no serial line
    systemError_ = 0;
    return false;
  }
  native->found = dcb;
  native->haveFound = GetCommTimeouts(h, &native->foundTimeouts) != 0;
  native_ = std::move(native);
  path_ = devicePath;
  if (!ApplyLine(9600, Parity::None, 8, 1)) {
    const int err = lastError_;
    const unsigned long sys = systemError_;
    Close();
    lastError_ = err;
    systemError_ = sys;
    return false;
  }
  PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);  // stale input from before we opened is no answer of ours
  lastError_ = 0;
  systemError_ = 0;
  return true;
}

void SerialPort::Close() {
  if (IsOpen()) {
    Native& n = *native_;
    CancelIoEx(n.h, nullptr);
    n.SettleWatch(true);
    DWORD moved;
    n.FinishWrite(&moved);
    // The line is left as it was found for whoever uses it next.
    if (n.haveFound) {
      SetCommState(n.h, &n.found);
      SetCommTimeouts(n.h, &n.foundTimeouts);
    }
    CloseHandle(n.h);
  }
  native_.reset();
  path_.clear();
}

bool SerialPort::ApplyLine(int baud, Parity parity, int dataBits, int stopBits) {
  if (!IsOpen()) return (lastError_ = EBADF), false;
  if (!SupportedBaud(baud) || dataBits < 5 || dataBits > 8 || (stopBits != 1 && stopBits != 2))
    return (lastError_ = EINVAL), false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(native_->h, &dcb)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  // Raw: no flow control, no character replaced or dropped, errors do not stop the line.
  dcb.BaudRate = DWORD(baud);
  dcb.ByteSize = BYTE(dataBits);
  dcb.Parity = parity == Parity::None ? NOPARITY : parity == Parity::Odd ? ODDPARITY : EVENPARITY;
  dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = parity != Parity::None;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(native_->h, &dcb)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  return true;
}

bool SerialPort::SetLine(int baud, Parity parity, int dataBits, int stopBits) {
  return ApplyLine(baud, parity, dataBits, stopBits);
}

bool SerialPort::SetBaud(int baud) {
  if (!IsOpen()) return (lastError_ = EBADF), false;
  if (!SupportedBaud(baud)) return (lastError_ = EINVAL), false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(native_->h, &dcb)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  dcb.BaudRate = DWORD(baud);
  if (!SetCommState(native_->h, &dcb)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  return true;
}

int SerialPort::Baud() const {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!IsOpen() || !GetCommState(native_->h, &dcb)) return 0;
  return int(dcb.BaudRate);
}

bool SerialPort::SetRts(bool on) {
  if (!IsOpen()) return (lastError_ = EBADF), false;
  // Not every driver has modem lines (a pty under wine has none): that is no failure.
  EscapeCommFunction(native_->h, on ? SETRTS : CLRRTS);
  return true;
}

bool SerialPort::Purge(bool input, bool output) {
  if (!IsOpen()) return (lastError_ = EBADF), false;
  if (!input && !output) return true;
  if (input) {
    native_->SettleWatch(true);
    native_->early.clear();
  }
  const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
  if (!PurgeComm(native_->h, flags)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  return true;
}

bool SerialPort::Drain() {
  if (!IsOpen()) return (lastError_ = EBADF), false;
  DWORD moved;
  if (const DWORD e = native_->FinishWrite(&moved)) return SystemFailure(&lastError_, &systemError_, e), false;
  if (!FlushFileBuffers(native_->h)) return SystemFailure(&lastError_, &systemError_, GetLastError()), false;
  return true;
}

void SerialPort::Abort() { abort_.Raise(); }

void SerialPort::ClearAbort() { abort_.Clear(); }

bool SerialPort::AbortRequested() const { return abort_.Raised(); }

bool SerialPort::Sleep(int ms) { return abort_.Sleep(ms); }

// How a transfer that Native::Await saw to its end went.
IoStatus SerialPort::Ended(unsigned long error, bool shortOfAll) {
  if (error == ERROR_OPERATION_ABORTED) return IoStatus::Aborted;
  if (error) return SystemFailure(&lastError_, &systemError_, DWORD(error));
  return shortOfAll ? IoStatus::TimedOut : IoStatus::Ok;
}

IoResult SerialPort::Write(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
    res.status = Fail(EBADF);
    return res;
  }
  if (abort_.Raised()) {
    res.status = IoStatus::Aborted;
    return res;
  }
  Native& nat = *native_;
  DWORD done = 0;
  DWORD e = nat.StartWrite(timeouts_, data, n, &done);
  if (e == ERROR_IO_PENDING) e = nat.Await(nat.writeOv, abort_.Handle(), &done);
  res.count = done;
  res.status = Ended(e, res.count < n);
  return res;
}

IoResult SerialPort::Read(uint8_t* buf, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
    res.status = Fail(EBADF);
    return res;
  }
  Native& nat = *native_;
  nat.SettleWatch(true);
  res.count = nat.TakeEarly(buf, n);
  if (res.count == n) return res;
  if (abort_.Raised()) {
    res.status = IoStatus::Aborted;
    return res;
  }
  // The limits mean here what they mean to the driver, so they go to it as they are.
  COMMTIMEOUTS t = nat.haveApplied ? nat.applied : COMMTIMEOUTS{};
  t.ReadIntervalTimeout = DWORD(timeouts_.readIntervalMs);
  t.ReadTotalTimeoutMultiplier = DWORD(timeouts_.readTotalPerByteMs);
  t.ReadTotalTimeoutConstant = DWORD(timeouts_.readTotalConstantMs);
  nat.Apply(t);
  ResetEvent(nat.readOv.hEvent);
  DWORD got = 0;
  DWORD e = ReadFile(nat.h, buf + res.count, DWORD(n - res.count), &got, &nat.readOv) ? 0 : GetLastError();
  if (e == ERROR_IO_PENDING) e = nat.Await(nat.readOv, abort_.Handle(), &got);
  res.count += got;
  res.status = Ended(e, res.count < n);
  return res;
}

IoResult SerialPort::ReadAvailable(uint8_t* buf, size_t max) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
    res.status = Fail(EBADF);
    return res;
  }
  Native& nat = *native_;
  const bool settled = nat.SettleWatch(false);
  res.count = nat.TakeEarly(buf, max);
  if (nat.watchError && res.count == 0) {
    res.status = SystemFailure(&lastError_, &systemError_, nat.watchError);
    return res;
  }
  // A watched read still waiting for its byte means there is none.
  if (!settled || res.count == max) return res;
  // Only what the driver already holds, so the read cannot wait. (The "return at once" time
  // limits, an interval of MAXDWORD, are not honoured by every driver: wine's waits.)
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(nat.h, &errors, &stat)) {
    if (res.count == 0) res.status = SystemFailure(&lastError_, &systemError_, GetLastError());
    return res;
  }
  const DWORD want = std::min<DWORD>(stat.cbInQue, DWORD(max - res.count));
  if (want == 0) return res;
  ResetEvent(nat.readOv.hEvent);
  DWORD got = 0;
  BOOL ok = ReadFile(nat.h, buf + res.count, want, &got, &nat.readOv);
  if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(nat.h, &nat.readOv, &got, TRUE);
  if (!ok) {
    const DWORD e = GetLastError();
    if (e != ERROR_TIMEOUT) {
      if (res.count == 0) res.status = SystemFailure(&lastError_, &systemError_, e);
      return res;
    }
  }
  res.count += got;
  return res;
}

IoResult SerialPort::WriteAvailable(const uint8_t* data, size_t n) {
  IoResult res{0, IoStatus::Ok};
  if (!IsOpen()) {
    res.status = Fail(EBADF);
    return res;
  }
  Native& nat = *native_;
  // The driver queues what it is given, from our copy; the write before this one, which may
  // still use the copy, is normally long done.
  DWORD done = 0;
  DWORD e = nat.FinishWrite(&done);
  if (!e) {
    nat.writing.assign(data, data + n);
    e = nat.StartWrite(timeouts_, nat.writing.data(), n, &done);
  }
  if (e == ERROR_IO_PENDING) {
    nat.writePending = true;
    done = DWORD(n);
  } else if (e) {
    res.status = SystemFailure(&lastError_, &systemError_, e);
  }
  res.count = done;
  return res;
}

int SerialPort::InBufferCount() const {
  if (!IsOpen()) return -1;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(native_->h, &errors, &stat)) return -1;
  return int(stat.cbInQue + native_->early.size());
}

int SerialPort::OutBufferCount() const {
  if (!IsOpen()) return 0;
  Native& nat = *native_;
  if (nat.writePending) {
    DWORD moved = 0;
    if (!GetOverlappedResult(nat.h, &nat.writeOv, &moved, FALSE) && GetLastError() == ERROR_IO_INCOMPLETE)
      return int(nat.writing.size());
    nat.writePending = false;
  }
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(nat.h, &errors, &stat)) return 0;
  return int(stat.cbOutQue);
}

std::string SerialPort::LastErrorText() const {
  if (std::string common = CommonSystemReason(lastError_); !common.empty()) return common;
  if (systemError_) return Win32ErrorText(DWORD(systemError_));
  if (lastError_ == 0) return {};
  return std::strerror(lastError_);
}

// The watched read's event on the loop: each time it is signalled, what it brought is there
// to read (or the line is gone), and the next one is started.
class SerialPortWatch : public PortWatch {
 public:
  SerialPortWatch(IoDispatcher& loop, SerialPort& port, PortEvents events)
      : loop_(loop), port_(port), events_(std::move(events)), alive_(std::make_shared<bool>(true)) {
    port_.native_->ArmWatch();
    id_ = loop_.WatchHandle(reinterpret_cast<NativeHandle>(port_.native_->watchOv.hEvent), kReadable,
                            [this](unsigned) { OnReady(); });
  }
  ~SerialPortWatch() override {
    *alive_ = false;
    if (id_) loop_.Unwatch(id_);
    if (port_.IsOpen()) port_.native_->SettleWatch(true);  // its byte stays for the next read
  }
  // The driver takes every write whole (WriteAvailable keeps a copy), so the line is writable
  // again as soon as the loop comes round.
  void WantWritable(bool want) override {
    if (!want) return;
    std::weak_ptr<bool> alive = alive_;
    loop_.Post([this, alive] {
      if (alive.lock() && *alive_ && events_.writable) events_.writable();
    });
  }

 private:
  void OnReady() {
    SerialPort::Native& nat = *port_.native_;
    nat.SettleWatch(false);
    const std::shared_ptr<bool> alive = alive_;
    if ((!nat.early.empty() || !nat.watchPending) && events_.received) events_.received();
    if (!*alive) return;  // the handler ended the watch
    if (nat.watchError) {
      // Nothing more will come; watching on would only spin.
      loop_.Unwatch(id_);
      id_ = 0;
      if (events_.lost) events_.lost();
      return;
    }
    if (!nat.watchPending) {
      ResetEvent(nat.watchOv.hEvent);
      nat.ArmWatch();
    }
  }

  IoDispatcher& loop_;
  SerialPort& port_;
  PortEvents events_;
  std::shared_ptr<bool> alive_;
  IoDispatcher::WatchId id_ = 0;
};

std::unique_ptr<PortWatch> SerialPort::Watch(IoDispatcher& loop, PortEvents events) {
  if (!IsOpen()) return nullptr;
  return std::make_unique<SerialPortWatch>(loop, *this, std::move(events));
}

}  // namespace km27
