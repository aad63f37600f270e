#pragma once
#include <cstdio>
#include <string>

// What km27ctl needs of the system it runs on, beyond the port, the loop and the files.
namespace km27::ctl {

// Once, before anything is written: a reader that went away must not kill the process before
// it can say so (POSIX); a console learns the bar's cursor controls (Windows).
void PrepareProcess();

// Whether `stream` goes to a terminal (on Windows: a console), where the progress bar redraws.
bool IsTerminal(FILE* stream);

// Writes UTF-8 text. A Windows console gets it as UTF-16, which it shows whatever its code
// page; a pipe or a file gets the UTF-8 bytes everywhere.
void WriteText(FILE* stream, const std::string& utf8);

// The device a COM number led to, links resolved, for the operator to see.
std::string ResolvedDevice(const std::string& path);

}  // namespace km27::ctl
