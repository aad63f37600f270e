#pragma once
#include <cstddef>
#include <string>

#include "store/store_error.h"

namespace km27 {

struct SaveResult {
  bool ok = false;
  std::string path;    // the file that was (or failed to be) written
  StoreFailure failure;  // kNone when ok
};

// A write of `path` that failed for `code`, with the system's error number.
inline SaveResult SaveFailed(const std::string& path, StoreError code, int sysError) {
  SaveResult r;
  r.path = path;
  r.failure.code = code;
  r.failure.sysError = sysError;
  return r;
}

// Whether an existing file of that name is replaced or wins.
enum class ExistingFile { kReplace, kKeep };

// The one way the tool writes a file: a temporary file beside the target, flushed to disk and
// renamed over it, so that the target is always either the old or the new complete file; the
// directory is flushed too, so the rename survives a power cut. A target the operator made
// read-only is protected (the save fails, naming the reason); a writable one keeps its mode
// and, where the system lets us, its owner. A link is followed and its target written.
// Temporary files left by a save that was killed half way are removed. With kKeep an existing
// file is left as it is and counts as success (`created` says which happened).
SaveResult WriteFileAtomically(const std::string& path, const void* data, size_t size,
                               ExistingFile existing = ExistingFile::kReplace, bool* created = nullptr);

struct ReadResult {
  bool ok = false;
  std::string bytes;
  size_t fileSize = 0;  // as the file system gives it
  bool tooLarge = false;  // above the limit: nothing is kept
  // The file system gave a size within the limit, but more came (a file in /proc says 0):
  // fileSize is then only what was read, limit + 1.
  bool sizeUnreported = false;
  StoreFailure failure;  // kNone when ok
};

// Reads a regular file whole. Anything else (a folder, a pipe, a device) is refused without
// waiting on it; so is a file above `limit` bytes: unread when the file system says so, else
// after limit + 1 bytes, whatever size it claimed.
ReadResult ReadFileBytes(const std::string& path, size_t limit);

// What the few other file calls of this folder need of the system, so that they stay free of it.
bool PathExists(const std::string& path);
std::string PathIn(const std::string& dir, const std::string& name);  // with the system's separator
std::string AbsolutePath(const std::string& path);  // against the current directory
std::string SystemErrorText(int err);               // err as a StoreFailure's sysError holds it

// The working directory: empty when the system cannot tell. Making a folder with its parents
// (one that exists counts) and entering one give the C library's error number in `err`.
std::string CurrentDirectory();
bool MakeDirectories(const std::string& dir, int* err);
bool ChangeDirectory(const std::string& dir, int* err);
// True for a folder of a file system the kernel makes up (/proc, /sys): its files show sizes
// that are not what reading them gives, and writing them changes the system.
bool OnPseudoFileSystem(const std::string& folder);

}  // namespace km27
