#include "ctl/ctl_options.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "km27_version.h"
#include "link/device_models.h"
#include "port/net_url.h"

namespace km27::ctl {

namespace {

bool ParseModel(const std::string& text, DeviceModel& model) {
  const DeviceModelInfo* m = FindDeviceModel(text);
  if (m) model = m->model;
  return m != nullptr;
}

bool ParseCommand(const std::string& word, Command& command) {
  static const struct {
    const char* word;
    Command command;
  } kCommands[] = {{"ports", Command::kPorts},     {"probe", Command::kProbe}, {"download", Command::kDownload},
                   {"upload", Command::kUpload},   {"verify", Command::kVerify}, {"show", Command::kShow},
                   {"log", Command::kLog},         {"diff", Command::kDiff}};
  for (const auto& c : kCommands) {
    if (word == c.word) {
      command = c.command;
      return true;
    }
  }
  return false;
}

bool NeedsFile(Command c) {
  return c == Command::kDownload || c == Command::kUpload || c == Command::kVerify || c == Command::kShow ||
         c == Command::kDiff;
}

bool IsTransfer(Command c) { return c == Command::kDownload || c == Command::kUpload || c == Command::kVerify; }

std::string CheckComRange(const Options& o) {
  if (o.com == 0) return {};
  const int last = o.modelGiven ? LastComPort(o.model) : LastComOfAnyModel();
  if (o.com < 1 || o.com > last) {
    const std::string who = o.modelGiven ? std::string(ModelName(o.model)) + " 只使用" : "可用的端口为";
    return "--com " + std::to_string(o.com) + " 超出范围：" + who + " COM1–COM" + std::to_string(last);
  }
  return {};
}

// A network port given with --device: a usable URL, and one the model can work through.
std::string CheckDevice(Options& o, int allowanceMs) {
  if (!IsNetUrl(o.device)) return allowanceMs >= 0 ? "--net-allowance 只用于网络端口（--device tcp://… 或 rfc2217://…）" : "";
  NetUrl url;
  if (const UrlProblem p = ParseNetUrl(o.device, &url); p != UrlProblem::None)
    return "--device " + o.device + "：" + UrlProblemText(p);
  // The code transmitter's opening changes the line's speed, which only the server can do.
  if (url.scheme == NetScheme::Tcp && o.modelGiven && IsCodeTransmitter(o.model))
    return std::string(ModelName(o.model)) + " 打开端口时须改变波特率，tcp:// 做不到：请用 rfc2217://" + o.device.substr(6);
  if (allowanceMs >= 0) o.device = o.device.substr(0, o.device.find('?')) + "?allowance=" + std::to_string(allowanceMs);
  return {};
}

}  // namespace

const char* ModelName(DeviceModel model) { return ModelInfo(model).name; }
const char* ModelTitle(DeviceModel model) { return DeviceModelTitle(model); }
int LastComPort(DeviceModel model) { return ModelInfo(model).lastCom; }

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine r;
  Options& o = r.options;
  std::vector<std::string> words;
  int allowanceMs = -1;
  auto fail = [&r](std::string why) {
    if (r.error.empty()) r.error = std::move(why);
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string value;
    bool hasValue = false;
    if (a.compare(0, 2, "--") == 0) {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        hasValue = true;
      }
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      // "--model --json" is a forgotten value, not a model called "--json".
      if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) {
        fail(a + " 缺少参数");
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version" || a == "-V") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--no-verify") {
      o.verify = false;
    } else if (a == "--no-log") {
      o.noLog = true;
    } else if (a == "--log" || a == "--since") {
      if (!takeValue()) continue;
      if (value.empty()) fail(a + " 缺少参数");
      (a == "--log" ? o.logFile : o.since) = value;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--model") {
      if (!takeValue()) continue;
      if (ParseModel(value, o.model))
        o.modelGiven = true;
      else
        fail("--model 只能是 KM27A 或 KM27C，而不是“" + value + "”");
    } else if (a == "--com") {
      if (!takeValue()) continue;
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > 255)
        fail("--com 需要一个端口号（如 --com 3），而不是“" + value + "”");
      else
        o.com = int(n);
    } else if (a == "--device") {
      if (!takeValue()) continue;
      if (value.empty())
        fail("--device 需要一个设备路径");
      else
        o.device = value;
    } else if (a == "--net-allowance") {
      if (!takeValue()) continue;
      char* end = nullptr;
      const long ms = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || ms < 0 || ms > 60000)
        fail("--net-allowance 需要 0–60000 的毫秒数，而不是“" + value + "”");
      else
        allowanceMs = int(ms);
    } else if (a.size() > 1 && a[0] == '-') {
      fail("未知选项 " + a);
    } else {
      words.push_back(a);
    }
  }
  if (o.help || o.version) return r;
  if (!r.error.empty()) return r;
  if (words.empty()) {
    fail("缺少命令（ports、probe、download、upload、verify、show、log 或 diff）");
    return r;
  }
  const std::string& firstWord = words[0];
  if (!ParseCommand(firstWord, o.command)) {
    fail("未知命令 " + firstWord);
    return r;
  }
  const size_t allowed = o.command == Command::kDiff ? 3 : 2;
  if (words.size() > allowed) fail("多余的参数 " + words[allowed]);
  if (words.size() > 1) o.file = words[1];
  if (words.size() > 2) o.otherFile = words[2];
  if (o.command == Command::kDiff && o.otherFile.empty()) fail("diff 需要两个参数文件");
  if (NeedsFile(o.command) && o.file.empty()) fail(firstWord + " 需要一个参数文件");
  if (!NeedsFile(o.command) && !o.file.empty()) fail(firstWord + " 不需要文件参数（多余的 " + o.file + "）");
  if (IsTransfer(o.command) && !o.modelGiven) fail(firstWord + " 需要 --model KM27A 或 --model KM27C");
  fail(CheckComRange(o));
  fail(CheckDevice(o, allowanceMs));
  if (!o.verify && o.command != Command::kDownload) fail("--no-verify 只用于 download");
  if (o.force && o.command != Command::kDownload) fail("--force 只用于 download");
  const bool offline = o.command == Command::kShow || o.command == Command::kLog || o.command == Command::kDiff;
  if (offline && (o.com || !o.device.empty())) fail(firstWord + " 不使用端口");
  if (!o.since.empty() && o.command != Command::kLog) fail("--since 只用于 log");
  if (o.modelGiven && o.command == Command::kDiff) fail("diff 不使用 --model");
  return r;
}

std::string VersionText() { return std::string("km27ctl ") + KM27_VERSION + "\n"; }

std::string UsageText() {
  return "用法：km27ctl [选项] 命令 [文件]\n"
         "\n"
         "KM27A 发码箱与 KM27C 发码器的参数设置工具（命令行）。\n"
         "\n"
         "命令：\n"
         "  ports           列出 COM 端口：所指设备，空闲、被占用（哪个程序）、无权访问或无设备\n"
         "  probe           查找下位机并逐台显示所在的端口（不给 --model 时两种型号都找）\n"
         "  download 文件   把参数文件（KM27A.dat 格式）中的程序下载到下位机，并读回校验\n"
         "  upload 文件     上传下位机中的程序，写入该文件（KM27C 另在当前目录写 DDINFO.txt）；\n"
         "                  上传失败时文件保持不变\n"
         "  verify 文件     读回下位机中的程序与文件比较，不写任何文件\n"
         "  show 文件       以表格显示参数文件中的程序（UTF-8）\n"
         "  diff 文件1 文件2  逐项比较两个参数文件中的程序（相同退出码 0，不同 6）\n"
         "  log             列出传输记录（--since 日期、--model 筛选；--json 逐行给出记录）\n"
         "\n"
         "选项：\n"
         "  --model KM27A|KM27C  下位机型号：KM27A 发码箱，KM27C 发码器（download、upload、verify 必需）\n"
         "  --com N              只使用 COM N（KM27C：COM1–COM11，KM27A：COM1–COM9）\n"
         "  --device PATH|URL    只使用该串口设备（同时给 --com N 时作为 COM N，否则作为 COM1）；\n"
         "                       终端服务器上的串口写作 tcp://主机:端口（原始 TCP，仅 KM27A）\n"
         "                       或 rfc2217://主机:端口（可改波特率，KM27C 须用此种）\n"
         "  --net-allowance MS   网络端口的每次等待另加 MS 毫秒（默认在连接时测得）\n"
         "  --no-verify          下载后不读回校验\n"
         "  --force              程序中有下位机无法执行的内容（不存在的低频代码、3–60 秒以外的时间）\n"
         "                       时仍原样下载（否则拒绝，退出码 3）\n"
         "  --log 文件           传输记录写入（log 读取）该文件，而非默认位置（亦可用环境变量 KM27_LOG）\n"
         "  --no-log             不写传输记录\n"
         "  --since 日期         log 只列出此后的传输：YYYY-MM-DD（当天零点）或完整的 ISO 时间\n"
         "  --json               以一个 JSON 对象在标准输出给出结果\n"
         "  --quiet, -q          不在标准错误显示进度与提示\n"
         "  --help, -h           显示本帮助\n"
         "  --version, -V        显示版本\n"
         "\n"
         "不给 --com 和 --device 时，与窗口程序一样依次查找：KM27C 在 COM1–COM11，\n"
         "KM27A 在 COM1–COM9（每个端口 0.8 秒，查找两轮）。COM n 所指的设备见 ports 与 README。\n"
         "\n"
         "KM27C 的下载同时下发当前目录 DDINFO.txt 中的设备信息；没有可用的 DDINFO.txt 时，\n"
         "先从下位机读取其设备信息并原样下发（读不到则不下载，退出码 5）。verify 只比较程序\n"
         "（载频掩码与各载频的步骤），设备信息不在参数文件中，不参与比较。校验不一致时逐项列出所有不同之处。\n"
         "\n"
         "download、upload、verify 无论结果如何（含被拒绝、失败、中断）都在传输记录中追加一条：\n"
         "默认为 ~/.local/state/km27param/transfers.jsonl（Windows：%LOCALAPPDATA%\\km27param\\transfers.jsonl）。\n"
         "记录无法写入时只在标准错误提示一行，不改变退出码。\n"
         "\n"
         "退出码：\n"
         "  0    成功\n"
         "  1    系统资源不足等其他错误\n"
         "  2    用法错误\n"
         "  3    文件错误：无法读取、不是有效的参数文件，或无法写入\n"
         "  4    未找到下位机，或指定的端口不可用\n"
         "  5    传输失败：下载未被下位机确认，或上传未完整收到\n"
         "  6    校验不一致：下位机中的程序与下发的数据（或文件）不同\n"
         "  7    无法读回：下载已完成但未能读回校验；verify 未能读回\n"
         "  8    输出无法写入：标准输出写入失败（磁盘已满、管道已关闭等）\n"
         "  130  被 Ctrl+C 中断（其他信号：128 + 信号编号）\n";
}

}  // namespace km27::ctl
