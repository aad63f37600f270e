#pragma once
// What COM numbering asks of the system, one form per system (com_names_posix.cpp,
// com_names_win32.cpp); the rules built on them are shared (com_names.cpp).
#include <string>
#include <vector>

#include "port/com_names.h"

namespace km27 {

// COM 1..count as the system numbers its serial lines, with the user's entries in their
// places: what ComDevicePaths gives without a COM directory or a port chosen.
std::vector<std::string> SystemComDevicePaths(int count, const ComEnvironment& env);

std::string ComName(int n);  // "COM3"
// Where the entry for COM n lives in `dir`, and whether there is one.
std::string EntryPath(const std::string& dir, int n);
bool EntryExists(const std::string& path);
// What an entry stands for: the URL or device it holds, else the entry itself (a link).
std::string Entry(const std::string& path);
// The device itself, links resolved; empty when it cannot be found.
std::string RealPath(const std::string& path);
// A failed open that means "no such device here", not a fault to report.
bool IsAbsence(int err);
// The C library's words for an errno value.
std::string ErrnoText(int err);

}  // namespace km27
