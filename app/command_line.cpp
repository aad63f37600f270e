#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "km27_version.h"
#include "model/messages.h"
#include "port/user_dirs.h"
#include "store/file_io.h"

namespace {

// Printed before there is an application to load a translation into: both languages here.
const km27::Bilingual kHelp{
    "用法：km27param [--workdir 目录 | --desktop] [--log 文件 | --no-log] [--help | --version]\n"
    "\n"
    "KM27A 发码箱与 KM27C 发码器的参数设置工具（窗口程序）。启动后选择下位机，\n"
    "在主窗口中编辑程序，程序保存在工作目录的 KM27A.dat 中（还有 DDINFO.txt、KM27A.txt）。\n"
    "\n"
    "  --workdir 目录  以该目录为工作目录（不存在则建立）；不给出时为当前目录\n"
    "  --desktop       从桌面菜单启动：以每个用户自己的目录为工作目录，\n"
    "                  即 $XDG_DATA_HOME/km27param（通常为 ~/.local/share/km27param）\n"
    "  --log 文件      每次下载、上传记入该文件（每行一条 JSON）；不给出时为环境变量\n"
    "                  KM27_LOG 所指的文件，否则为 $XDG_STATE_HOME/km27param/transfers.jsonl\n"
    "                  （通常为 ~/.local/state/km27param/transfers.jsonl），与 km27ctl 共用\n"
    "  --no-log        不记录传输\n"
    "  --help, -h      显示本帮助\n"
    "  --version, -V   显示版本\n"
    "\n"
    "命令行工具见 km27ctl --help。\n",
    "Usage: km27param [--workdir DIR | --desktop] [--log FILE | --no-log] [--help | --version]\n"
    "\n"
    "The parameter-setting tool (window program) for the KM27A code box and the KM27C code\n"
    "transmitter. Pick the device at start-up, then edit the programme in the main window; it is\n"
    "kept in KM27A.dat in the working folder (with DDINFO.txt and KM27A.txt).\n"
    "\n"
    "  --workdir DIR   work in DIR (made when missing); the current folder otherwise\n"
    "  --desktop       started from the desktop's menu: work in each user's own folder,\n"
    "                  $XDG_DATA_HOME/km27param (usually ~/.local/share/km27param)\n"
    "  --log FILE      record every download and upload in FILE (one JSON line each); otherwise\n"
    "                  in the file the environment variable KM27_LOG names, else in\n"
    "                  $XDG_STATE_HOME/km27param/transfers.jsonl\n"
    "                  (usually ~/.local/state/km27param/transfers.jsonl), shared with km27ctl\n"
    "  --no-log        record no transfers\n"
    "  --help, -h      show this help\n"
    "  --version, -V   show the version\n"
    "\n"
    "For the command-line tool see km27ctl --help.\n"};
const km27::Bilingual kNoWorkDir{"无法建立工作目录", "cannot make the working folder"};
const km27::Bilingual kCannotEnter{"无法进入工作目录", "cannot enter the working folder"};
const km27::Bilingual kLogNeedsFile{"km27param: --log 需要一个文件\n", "km27param: --log needs a file\n"};
const km27::Bilingual kWorkDirNeedsDir{"km27param: --workdir 需要一个目录\n", "km27param: --workdir needs a folder\n"};

// Removes argv[i .. i+n-1].
void Drop(int& argc, char** argv, int i, int n) {
  for (int k = i; k + n <= argc; ++k) argv[k] = argv[k + n];
  argc -= n;
}

}  // namespace

void SetHomeFromAccount() { km27::SetHomeFromAccount(); }

std::string DesktopWorkDir() { return km27::UserDataDir(); }

bool EnterWorkDir(const std::string& dir, std::string* error) {
  int err = 0;
  if (!km27::MakeDirectories(dir, &err)) {
    *error = km27::FileErrorText(km27::Localize(kNoWorkDir).c_str(), err);
    return false;
  }
  if (!km27::ChangeDirectory(dir, &err)) {
    *error = km27::FileErrorText(km27::Localize(kCannotEnter).c_str(), err);
    return false;
  }
  return true;
}

StartOptions ReadStartOptions(int& argc, char** argv) {
  StartOptions o;
  for (int i = 1; i < argc;) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(km27::Localize(kHelp).c_str(), stdout);
      o.exitCode = 0;
      return o;
    }
    if (a == "--version" || a == "-V") {
      std::printf("km27param %s\n", KM27_VERSION);
      o.exitCode = 0;
      return o;
    }
    if (a == "--desktop") {
      o.workDir = DesktopWorkDir();
      Drop(argc, argv, i, 1);
    } else if (a == "--no-log") {
      o.logChosen = true;
      o.logPath.clear();
      Drop(argc, argv, i, 1);
    } else if (a == "--log" || a.rfind("--log=", 0) == 0) {
      const bool joined = a.size() > std::strlen("--log");
      if (!joined && i + 1 >= argc) {
        std::fputs(km27::Localize(kLogNeedsFile).c_str(), stderr);
        o.exitCode = 2;
        return o;
      }
      o.logChosen = true;
      o.logPath = km27::AbsolutePath(joined ? a.substr(std::strlen("--log=")) : argv[i + 1]);
      Drop(argc, argv, i, joined ? 1 : 2);
    } else if (a == "--workdir" || a.rfind("--workdir=", 0) == 0) {
      const bool joined = a.size() > std::strlen("--workdir");
      if (!joined && i + 1 >= argc) {
        std::fputs(km27::Localize(kWorkDirNeedsDir).c_str(), stderr);
        o.exitCode = 2;
        return o;
      }
      o.workDir = joined ? a.substr(std::strlen("--workdir=")) : argv[i + 1];
      Drop(argc, argv, i, joined ? 1 : 2);
    } else {
      ++i;  // the toolkit's
    }
  }
  return o;
}
