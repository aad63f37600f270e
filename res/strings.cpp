#include "res/strings.h"

#include <QtGlobal>

namespace km27::res {

namespace {

const char* const kAbout = QT_TRANSLATE_NOOP("Strings", "关于 KM27A(&A)...");

// The help halves are the text of KM27A.txt, a file in GBK: always Chinese.
// Lines end in LF and are indented with tabs; the file writer turns LF into CR LF.
const char kHelp1[] =
    "KM27A软件功能简介：\n"
    "\t本软件与KM27A通用机车信号发码箱配套使用，用于设置和修改发码箱循环发码的参数。"
    "软件具有“添加”、“上移”、“下移”、“删除”、“清空”、“上传”、“下载”和“退出”等功能。\n"
    "\n"
    "1. 编辑发码箱参数 ：\n"
    "\t参数添加：\n"
    "\t\t例如：移频、载频550Hz、低频8.0Hz、时间8秒\n"
    "\t\t1). 按“清空”按钮，清除原有数据，状态条中的“类型”、“载频”、“低频”均显示为“0”；\n"
    "\t\t2). 在载频选择中点击“550Hz”，再在左上角的低频下拉框中选择“8.0Hz”，"
    "然后在时间下拉框中选择“8秒”；\n"
    "\t\t3). 按“添加”按钮，表格中增加一行数据，状态条中显示“类型：1”、“载频：1”、“低频：1”。\n"
    "\n"
    "\t参数修改：\n"
    "\t\t鼠    标：在表格中点击某一行，高亮条移到该行。\n"
    "\t\t添加数据：新的数据添加在高亮条所在行的下一行，添加后高亮条下移一行。\n"
    "\t\t删除数据：删除高亮条所在行的数据。";

const char kHelp2[] =
    "\n"
    "\t\t上    移：高亮条所在行的数据上移一行。\n"
    "\t\t下    移：高亮条所在行的数据下移一行。\n"
    "\n"
    "2. 上传发码箱参数：\n"
    "\t按“上传”按钮，读取发码箱中的参数。上传成功时状态条显示“KM27A参数数据上传成功!”，"
    "表格随之刷新；否则显示“KM27A参数数据上传失败!”。\n"
    "\n"
    "3. 下载发码箱参数：\n"
    "\t按“下载”按钮，把表格中的参数写入发码箱。下载成功时状态条显示“KM27A参数数据下载成功!”，"
    "否则显示“KM27A参数数据下载失败!”。\n"
    "\n"
    "4. 通信状态：\n"
    "\t当串口通信正常时状态条左侧的指示灯是红色，如果通信异常指示灯是黑色。\n"
    "\n"
    "5. 其他：\n"
    "\t1). 按TAB键，焦点依次在低频下拉框、时间下拉框、载频选择和线路选择之间移动；\n"
    "\t2). 当焦点在载频或线路选择上时，按方向键可改变载频或线路；\n"
    "\t3). 当焦点在表格上时，按上、下方向键可使高亮条上移或下移一行。\n";

}  // namespace

const char* LoadString(int id) {
  switch (id) {
    case IDS_ABOUTBOX: return kAbout;
    case IDS_HELP_1: return kHelp1;
    case IDS_HELP_2: return kHelp2;
    default: return "";
  }
}

}  // namespace km27::res
