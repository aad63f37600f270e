#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "model/param_table.h"
#include "store/file_io.h"

namespace km27 {

inline constexpr const char kParamFileName[] = "KM27A.dat";
inline constexpr size_t kParamFileSize = 1056;
inline constexpr size_t kMakerFieldSize = 50;
inline constexpr size_t kVersionFieldSize = 38;
inline constexpr size_t kParamHeaderSize = kMakerFieldSize + kVersionFieldSize;  // 88

// The whole 1056-byte file image for the given state.
std::array<uint8_t, kParamFileSize> BuildParamFileImage(const ParamOptions& options, const ParamTable& table);

// Accepts exactly 1056 bytes whose maker and version texts (up to their first zero) match.
bool ParseParamFileImage(const uint8_t* data, size_t size, ParamOptions& options, ParamTable& table);

// Why bytes are not a valid file; kNone for a valid one.
StoreFailure ParamFileProblem(const uint8_t* data, size_t size);

// Fills options and table when the file is valid; otherwise leaves them untouched and returns false.
bool LoadParamFile(const std::string& path, ParamOptions& options, ParamTable& table);

// A programme file the operator chose to open: the programme, or why the file is refused.
struct ParamFileRead {
  bool ok = false;
  Programme programme;
  StoreFailure failure;  // kNone when ok
};
ParamFileRead ReadParamFile(const std::string& path);

// What the window found in its working file at start-up. A file it could not use may be the
// operator's only copy of a programme (made by another version of the tool, say): its bytes
// are kept aside before the exit save replaces it, and one that could not even be read, or
// not kept, is never replaced.
struct ParamFileStart {
  enum Kind { kLoaded, kMissing, kUnreadable, kUnopenable };
  Kind kind = kMissing;
  std::string path;         // the working file
  StoreFailure failure;      // why it could not be used
  std::string keptAs;        // where its bytes were kept
  StoreFailure keepFailure;  // why they could not be kept
  // The exit save may write the file: it held nothing of the operator's that is not kept.
  bool MayReplace() const { return kind == kLoaded || kind == kMissing || !keptAs.empty(); }
  // The operator's message about it; empty when there is nothing to tell.
  std::string Message() const;
};

// Loads the working file; a file that is there but unusable is copied to
// "<path>.unreadable-YYYYMMDD-HHMMSS" (local time `now`; "-2", "-3", ... appended rather than
// overwrite an earlier copy).
ParamFileStart LoadParamFileAtStart(const std::string& path, ParamOptions& options, ParamTable& table, time_t now);

// Writes the whole file atomically (WriteFileAtomically).
SaveResult SaveParamFile(const std::string& path, const ParamOptions& options, const ParamTable& table);

// The programme beside the working file, as "<path>.unsaved-YYYYMMDD-HHMMSS" (named as the
// copies above), when the working file itself must stay as it is. r.path is the copy.
SaveResult SaveParamFileBeside(const std::string& path, const ParamOptions& options, const ParamTable& table,
                               time_t now);

}  // namespace km27
