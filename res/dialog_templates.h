#pragma once
#include <string>
#include <vector>

// The dialogs as the resource compiler would hold them: controls in template order,
// rectangles in dialog units, so the layout follows the dialog font.
namespace km27::res {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_PARAM = 102;
inline constexpr int IDD_DEVICE_SELECT = 146;
inline constexpr int IDD_PORT_SETTINGS = 147;
inline constexpr int IDR_MAINFRAME = 128;  // the icon
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// Control ids of the main window.
inline constexpr int IDC_CODE_COMBO = 1009;
inline constexpr int IDC_TIME_COMBO = 1010;
inline constexpr int IDC_UPLOAD = 1011;
inline constexpr int IDC_DOWNLOAD = 1012;
inline constexpr int IDC_MOVE_UP = 1013;
inline constexpr int IDC_MOVE_DOWN = 1014;
inline constexpr int IDC_DELETE = 1015;
inline constexpr int IDC_ADD = 1016;
inline constexpr int IDC_CLEAR = 1017;
inline constexpr int IDC_COMM = 1018;
inline constexpr int IDC_EXIT = 1019;
inline constexpr int IDC_GRID = 1021;
inline constexpr int IDC_STATUS_LINE = 1023;
inline constexpr int IDC_TYPE_COUNT = 1030;
inline constexpr int IDC_CARRIER_COUNT = 1031;
inline constexpr int IDC_CODE_COUNT = 1032;
inline constexpr int IDC_LAMP = 1043;
inline constexpr int IDC_LINE_FIRST = 1091;
inline constexpr int IDC_LINE_SECOND = 1092;

// The radio of carrier 0..18, in the order of the carrier group.
int CarrierRadioId(int carrier);

// Control ids of the port settings: what COM n names (n = 1..kPortSettingsRows), then the editor.
inline constexpr int kPortSettingsRows = 11;
inline constexpr int IDC_PORT_TARGET_FIRST = 1201;  // + n - 1
inline constexpr int IDC_PORT_COMBO = 1220;
inline constexpr int IDC_PORT_EDIT = 1221;
inline constexpr int IDC_PORT_MESSAGE = 1222;
inline constexpr int IDC_PORT_SET = 1223;
inline constexpr int IDC_PORT_CLEAR = 1224;

// Control ids of the lower-machine choice.
inline constexpr int IDC_CODE_TRANSMITTER = 1045;
inline constexpr int IDC_CODE_BOX = 1046;

enum class ControlKind {
  PushButton,
  DefPushButton,
  Radio,        // automatic radio button
  GroupBox,
  EtchedFrame,
  Static,       // text, left aligned
  StaticIcon,   // shows icon 128
  DropList,     // drop-down list combo box, unsorted, vertical scroll bar
  Grid,         // hosted flex grid
  Comm,         // hosted serial comm control, invisible at run time
  Edit,         // one line of text, auto horizontal scroll
};

// Style bits that change how a control is drawn.
enum StyleBits : unsigned {
  kStyleNone = 0,
  kStyleCentreV = 1u << 0,     // text centred vertically
  kStyleStaticEdge = 1u << 1,  // thin sunken border
  kStyleClientEdge = 1u << 2,  // 2-pixel sunken border
  kStyleNoPrefix = 1u << 3,    // '&' is shown as is
};

// The translation context of the templates' captions and texts (shown through
// QCoreApplication::translate with it; they are written in Chinese).
inline constexpr char kDialogTextContext[] = "Dialogs";

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;  // UTF-8, Chinese
  int x, y, cx, cy;  // dialog units
  bool group;
  bool tabStop;
  unsigned style;
};

struct DialogTemplate {
  int id;
  const char* caption;
  const char* fontFace;  // the face the template names
  int pointSize;
  int cx, cy;  // client area in dialog units
  bool minimizeBox;
  std::vector<ControlTemplate> controls;
};

// nullptr for an unknown id.
const DialogTemplate* FindDialogTemplate(int id);

// Items a list control holds when its dialog is created (the duration list of dialog 102).
std::vector<std::string> InitialItems(int dialogId, int controlId);

}  // namespace km27::res
