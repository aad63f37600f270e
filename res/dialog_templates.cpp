#include "res/dialog_templates.h"

#include <QtGlobal>

#include "model/code_catalogue.h"
#include "model/device_model.h"

namespace km27::res {

namespace {

using K = ControlKind;
constexpr bool G = true;   // first control of a group
constexpr bool T = true;   // tab stop
constexpr bool _ = false;
constexpr unsigned kStatusStyle = kStyleCentreV | kStyleStaticEdge;

const DialogTemplate kAbout{
    IDD_ABOUTBOX, QT_TRANSLATE_NOOP("Dialogs", "关于 KM27A"), "宋体", 9, 197, 49, false,
    {
        {IDC_STATIC, K::StaticIcon, "", 11, 17, 20, 20, _, _, kStyleNone},
        {IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("Dialogs", "KM27A 2.1版"), 40, 10, 104, 8, _, _, kStyleNoPrefix},
        {IDOK, K::DefPushButton, QT_TRANSLATE_NOOP("Dialogs", "确定"), 154, 7, 36, 14, G, T, kStyleNone},
    }};

const DialogTemplate kDeviceSelect{
    IDD_DEVICE_SELECT, QT_TRANSLATE_NOOP("Dialogs", "下位机选择"), "宋体", 10, 187, 94, false,
    {
        {IDOK, K::DefPushButton, QT_TRANSLATE_NOOP("Dialogs", "确认"), 22, 67, 50, 14, _, T, kStyleNone},
        {IDCANCEL, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "取消"), 112, 67, 50, 14, _, T, kStyleNone},
        {IDC_CODE_TRANSMITTER, K::Radio, QT_TRANSLATE_NOOP("Dialogs", "KM27C通用机车信号发码器"), 48, 25, 103, 10, _, _, kStyleNone},
        {IDC_CODE_BOX, K::Radio, QT_TRANSLATE_NOOP("Dialogs", "KM27A通用机车信号发码箱"), 48, 41, 103, 10, _, _, kStyleNone},
        {IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("Dialogs", "下位机类型"), 12, 10, 163, 49, _, _, kStyleNone},
    }};

const DialogTemplate kPortSettings{
    IDD_PORT_SETTINGS, QT_TRANSLATE_NOOP("Dialogs", "端口设置"), "宋体", 10, 261, 214, false,
    {
        {IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("Dialogs", "各端口所指"), 7, 7, 247, 153, _, _, kStyleNone},
        {IDC_STATIC, K::Static, "COM1", 15, 21, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 0, K::Static, "", 43, 20, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM2", 15, 33, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 1, K::Static, "", 43, 32, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM3", 15, 45, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 2, K::Static, "", 43, 44, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM4", 15, 57, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 3, K::Static, "", 43, 56, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM5", 15, 69, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 4, K::Static, "", 43, 68, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM6", 15, 81, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 5, K::Static, "", 43, 80, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM7", 15, 93, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 6, K::Static, "", 43, 92, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM8", 15, 105, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 7, K::Static, "", 43, 104, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM9", 15, 117, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 8, K::Static, "", 43, 116, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM10", 15, 129, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 9, K::Static, "", 43, 128, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, "COM11", 15, 141, 26, 8, _, _, kStyleNone},
        {IDC_PORT_TARGET_FIRST + 10, K::Static, "", 43, 140, 204, 10, _, _, kStatusStyle | kStyleNoPrefix},
        {IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("Dialogs", "端口"), 7, 170, 20, 8, _, _, kStyleNone},
        {IDC_PORT_COMBO, K::DropList, "", 29, 168, 40, 150, G, T, kStyleNone},
        {IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("Dialogs", "设备或网址"), 77, 170, 44, 8, _, _, kStyleNone},
        {IDC_PORT_EDIT, K::Edit, "", 122, 168, 132, 12, _, T, kStyleNone},
        {IDC_PORT_MESSAGE, K::Static, "", 7, 184, 247, 8, _, _, kStyleNoPrefix},
        {IDC_PORT_SET, K::DefPushButton, QT_TRANSLATE_NOOP("Dialogs", "设置"), 7, 195, 50, 14, G, T, kStyleNone},
        {IDC_PORT_CLEAR, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "清除"), 63, 195, 50, 14, _, T, kStyleNone},
        {IDCANCEL, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "关闭"), 204, 195, 50, 14, _, T, kStyleNone},
    }};

const DialogTemplate kParam{
    IDD_PARAM, QT_TRANSLATE_NOOP("Dialogs", "参数设置工具"), "宋体", 10, 423, 332, true,
    {
        {1001, K::Radio, "550 Hz", 21, 43, 47, 11, G, T, kStyleNone},
        {1002, K::Radio, "650 Hz", 74, 43, 47, 11, _, _, kStyleNone},
        {1003, K::Radio, "750 Hz", 127, 43, 47, 11, _, _, kStyleNone},
        {1004, K::Radio, "850 Hz", 180, 43, 47, 11, _, _, kStyleNone},
        {1005, K::Radio, "1700 Hz", 21, 80, 47, 11, _, _, kStyleNone},
        {1006, K::Radio, "2000 Hz", 74, 80, 47, 11, _, _, kStyleNone},
        {1007, K::Radio, "2300 Hz", 127, 80, 47, 11, _, _, kStyleNone},
        {1008, K::Radio, "2600 Hz", 180, 80, 47, 11, _, _, kStyleNone},
        {1033, K::Radio, "1701.4Hz", 21, 118, 47, 11, _, _, kStyleNone},
        {1034, K::Radio, "2001.4Hz", 74, 118, 47, 11, _, _, kStyleNone},
        {1035, K::Radio, "2301.4Hz", 127, 118, 47, 11, _, _, kStyleNone},
        {1036, K::Radio, "2601.4Hz", 180, 118, 47, 11, _, _, kStyleNone},
        {1037, K::Radio, "1698.7Hz", 21, 135, 47, 11, _, _, kStyleNone},
        {1038, K::Radio, "1998.7HZ", 74, 135, 47, 11, _, _, kStyleNone},
        {1039, K::Radio, "2298.7Hz", 127, 135, 47, 11, _, _, kStyleNone},
        {1040, K::Radio, "2598.7Hz", 180, 135, 47, 11, _, _, kStyleNone},
        {1061, K::Radio, "25 Hz", 21, 170, 47, 11, _, _, kStyleNone},
        {1062, K::Radio, "50 Hz", 101, 170, 47, 11, _, _, kStyleNone},
        {1063, K::Radio, "75 Hz", 180, 170, 47, 11, _, _, kStyleNone},
        {IDC_LINE_FIRST, K::Radio, QT_TRANSLATE_NOOP("Dialogs", "无"), 21, 218, 55, 11, G, T, kStyleNone},
        {IDC_LINE_SECOND, K::Radio, QT_TRANSLATE_NOOP("Dialogs", "无"), 101, 218, 70, 11, _, _, kStyleNone},
        {IDC_GRID, K::Grid, "", 281, 11, 117, 260, G, T, kStyleNone},
        {IDC_CODE_COMBO, K::DropList, "", 11, 7, 97, 203, G, T, kStyleNone},
        {IDC_TIME_COMBO, K::DropList, "", 115, 7, 81, 203, _, T, kStyleNone},
        {IDC_ADD, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "添加"), 214, 6, 52, 14, _, _, kStyleNone},
        {IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("Dialogs", "移频"), 11, 30, 255, 31, _, _, kStyleNone},
        {IDC_UPLOAD, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "上 传"), 18, 271, 50, 19, _, _, kStyleNone},
        {IDC_DOWNLOAD, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "下 载"), 78, 271, 53, 19, _, _, kStyleNone},
        {IDC_CLEAR, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "清 空"), 142, 271, 51, 19, _, _, kStyleNone},
        {IDC_EXIT, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "退 出"), 203, 271, 54, 19, _, _, kStyleNone},
        {IDC_MOVE_UP, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "上移"), 281, 275, 35, 15, _, _, kStyleNone},
        {IDC_MOVE_DOWN, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "下移"), 319, 275, 34, 15, _, _, kStyleNone},
        {IDC_DELETE, K::PushButton, QT_TRANSLATE_NOOP("Dialogs", "删除"), 356, 275, 42, 15, _, _, kStyleNone},
        {IDC_LAMP, K::Static, "", 11, 308, 13, 12, G, _, kStyleClientEdge},
        {IDC_STATUS_LINE, K::Static, QT_TRANSLATE_NOOP("Dialogs", "命令发送状态"), 27, 308, 277, 12, G, _, kStatusStyle},
        {IDC_TYPE_COUNT, K::Static, "", 304, 308, 40, 12, G, _, kStatusStyle},
        {IDC_CARRIER_COUNT, K::Static, "", 344, 308, 40, 12, G, _, kStatusStyle},
        {IDC_CODE_COUNT, K::Static, "", 384, 308, 33, 12, G, _, kStatusStyle},
        {IDC_STATIC, K::GroupBox, "UM71", 11, 68, 255, 31, _, _, kStyleNone},
        {IDC_STATIC, K::GroupBox, "ZPW2000", 11, 105, 255, 45, _, _, kStyleNone},
        {IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("Dialogs", "交流计数"), 11, 157, 255, 31, _, _, kStyleNone},
        {IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("Dialogs", "线路"), 11, 205, 255, 31, _, _, kStyleNone},
        {IDC_STATIC, K::EtchedFrame, "", 11, 266, 255, 31, _, _, kStyleNone},
        {IDC_STATIC, K::EtchedFrame, "", 276, 4, 127, 294, _, _, kStyleNone},
        {IDC_COMM, K::Comm, "", 201, 61, 22, 23, _, T, kStyleNone},
    }};

}  // namespace

int CarrierRadioId(int carrier) {
  // The template's radios in order: the nineteen of the carrier group, then the two line radios.
  static const std::vector<int> ids = [] {
    std::vector<int> v;
    for (const ControlTemplate& c : FindDialogTemplate(IDD_PARAM)->controls)
      if (c.kind == ControlKind::Radio && c.id != IDC_LINE_FIRST && c.id != IDC_LINE_SECOND) v.push_back(c.id);
    return v;
  }();
  return carrier >= 0 && size_t(carrier) < ids.size() ? ids[size_t(carrier)] : ids.front();
}

const DialogTemplate* FindDialogTemplate(int id) {
  switch (id) {
    case IDD_ABOUTBOX: return &kAbout;
    case IDD_PARAM: return &kParam;
    case IDD_DEVICE_SELECT: return &kDeviceSelect;
    case IDD_PORT_SETTINGS: return &kPortSettings;
    default: return nullptr;
  }
}

std::vector<std::string> InitialItems(int dialogId, int controlId) {
  if (dialogId == IDD_PARAM && controlId == IDC_TIME_COMBO) return DurationItems();
  return {};
}

}  // namespace km27::res
