#include "ctl/ctl_system.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "port/win32_text.h"

namespace km27::ctl {

namespace {

// The console behind `stream`, or nullptr for a pipe, a file or nothing.
HANDLE ConsoleOf(FILE* stream) {
  const int fd = _fileno(stream);
  if (fd < 0) return nullptr;
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}

}  // namespace

void PrepareProcess() {
  // The bar rewrites its line with "\r\033[K"; consoles before Windows 10 show the escape as
  // it is, which spoils the look but nothing else.
  if (const HANDLE h = ConsoleOf(stderr)) {
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool IsTerminal(FILE* stream) { return ConsoleOf(stream) != nullptr; }

void WriteText(FILE* stream, const std::string& utf8) {
  const HANDLE console = ConsoleOf(stream);
  if (!console) {
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    return;
  }
  std::fflush(stream);  // what went through the C library first stays first
  const std::wstring w = Wide(utf8);
  for (size_t done = 0; done < w.size();) {
    DWORD wrote = 0;
    const DWORD chunk = DWORD(std::min<size_t>(w.size() - done, 8192));
    if (!WriteConsoleW(console, w.data() + done, chunk, &wrote, nullptr) || wrote == 0) return;
    done += wrote;
  }
}

// COM names and URLs are no files: shown as they are.
std::string ResolvedDevice(const std::string& path) { return path; }

}  // namespace km27::ctl
