#pragma once
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// A directory of the test's own under /tmp (on Windows, the user's temporary folder), removed
// with everything in it when the object goes: folders a test made read-only are made writable
// first, so nothing is left behind.
struct TempDir {
  explicit TempDir(const std::string& what = "test") {
#ifdef _WIN32
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path.empty() && !ec; ++attempt) {
      const std::filesystem::path p = base / ("km27-" + what + "-" + std::to_string(seed()));
      if (std::filesystem::create_directory(p, ec)) path = p.generic_u8string();
    }
#else
    std::string tmpl = "/tmp/km27-" + what + "-XXXXXX";
    if (mkdtemp(tmpl.data())) path = tmpl;
#endif
  }
  ~TempDir() { Remove(); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  void Remove() {
    namespace fs = std::filesystem;
    if (path.empty()) return;
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
    path.clear();
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }

  std::string path;  // empty when it could not be made
};
