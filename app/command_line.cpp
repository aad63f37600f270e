#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "km27_version.h"

int HandleInformationOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs("用法：km27param [--help | --version]\n"
                  "\n"
                  "KM27A 发码箱与 KM27C 发码器的参数设置工具（窗口程序）。启动后选择下位机，\n"
                  "在主窗口中编辑程序，程序保存在工作目录的 KM27A.dat 中。\n"
                  "\n"
                  "  --help, -h      显示本帮助\n"
                  "  --version, -V   显示版本\n"
                  "\n"
                  "命令行工具见 km27ctl --help。\n",
                  stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("km27param %s\n", KM27_VERSION);
      return 0;
    }
  }
  return -1;
}
