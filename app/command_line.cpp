#include "app/command_line.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "km27_version.h"
#include "model/messages.h"
#include "port/user_dirs.h"
#include "store/file_io.h"

namespace {

// Removes argv[i .. i+n-1].
void Drop(int& argc, char** argv, int i, int n) {
  for (int k = i; k + n <= argc; ++k) argv[k] = argv[k + n];
  argc -= n;
}

const char kHelp[] = QT_TRANSLATE_NOOP(
    "CommandLine",
    "用法：km27param [--workdir 目录 | --desktop] [--log 文件 | --no-log] [--lang zh|en]\n"
    "                [--help | --version]\n"
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
    "  --lang zh|en    界面语言：zh 中文，en 英文；不给出时为右键菜单“语言”中所选，\n"
    "                  否则随系统的语言环境\n"
    "  --help, -h      显示本帮助\n"
    "  --version, -V   显示版本\n"
    "\n"
    "命令行工具见 km27ctl --help。\n");

const km27::Bilingual kNoWorkDir{"无法建立工作目录", "cannot make the working folder"};
const km27::Bilingual kCannotEnter{"无法进入工作目录", "cannot enter the working folder"};

const char kLogNeedsFile[] = QT_TRANSLATE_NOOP("CommandLine", "km27param: --log 需要一个文件\n");
const char kWorkDirNeedsDir[] = QT_TRANSLATE_NOOP("CommandLine", "km27param: --workdir 需要一个目录\n");
const char kLangNeedsName[] = QT_TRANSLATE_NOOP("CommandLine", "km27param: --lang 需要 zh 或 en\n");
const char kLangUnknown[] = QT_TRANSLATE_NOOP("CommandLine", "km27param: --lang 需要 zh 或 en，而不是“%1”\n");

// An option's value, joined (--opt=value) or next; false when there is none.
bool TakeValue(int& argc, char** argv, int i, const char* option, std::string* value) {
  const std::string a = argv[i];
  const size_t n = std::strlen(option);
  if (a.size() > n) {
    *value = a.substr(n + 1);
    Drop(argc, argv, i, 1);
    return true;
  }
  if (i + 1 >= argc) return false;
  *value = argv[i + 1];
  Drop(argc, argv, i, 2);
  return true;
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
  const auto fail = [&o](const char* words, std::string arg = {}) {
    o.exitCode = 2;
    o.say = words;
    o.sayArg = std::move(arg);
    return o;
  };
  for (int i = 1; i < argc;) {
    const std::string a = argv[i];
    const auto is = [&a](const char* option) {
      return a == option || a.rfind(std::string(option) + "=", 0) == 0;
    };
    std::string value;
    if (a == "--help" || a == "-h") {
      // Answered once the whole line is read: a --lang after it still chooses its language.
      o.say = kHelp;
      Drop(argc, argv, i, 1);
    } else if (a == "--version" || a == "-V") {
      std::printf("km27param %s\n", KM27_VERSION);
      o.exitCode = 0;
      o.say = nullptr;
      return o;
    } else if (a == "--desktop") {
      o.workDir = DesktopWorkDir();
      Drop(argc, argv, i, 1);
    } else if (a == "--no-log") {
      o.logChosen = true;
      o.logPath.clear();
      Drop(argc, argv, i, 1);
    } else if (is("--log")) {
      if (!TakeValue(argc, argv, i, "--log", &value)) return fail(kLogNeedsFile);
      o.logChosen = true;
      o.logPath = km27::AbsolutePath(value);
    } else if (is("--workdir")) {
      if (!TakeValue(argc, argv, i, "--workdir", &value)) return fail(kWorkDirNeedsDir);
      o.workDir = value;
    } else if (is("--lang")) {
      if (!TakeValue(argc, argv, i, "--lang", &value)) return fail(kLangNeedsName);
      o.language = km27::ParseLanguage(value);
      if (!o.language) return fail(kLangUnknown, value);
    } else {
      ++i;  // the toolkit's
    }
  }
  if (o.say == kHelp) o.exitCode = 0;
  return o;
}

std::string UsageText(const StartOptions& options) {
  if (!options.say) return {};
  QString text = QCoreApplication::translate("CommandLine", options.say);
  if (text.contains(QLatin1String("%1"))) text = text.arg(QString::fromStdString(options.sayArg));
  return text.toStdString();
}

km27::Language ChooseLanguage(std::optional<km27::Language> commandLine, const std::string& remembered,
                              km27::Language system) {
  if (commandLine) return *commandLine;
  if (const auto chosen = km27::ParseLanguage(remembered)) return *chosen;
  return system;
}
