#pragma once
#include "model/messages.h"

// Texts the window shows in its status line and boxes (UTF-8 here; GBK only where they leave the
// program), in the interface's language. Each is a whole text without placeholders, so it can be
// handed out with the catalogue's own storage.
namespace km27::text {

inline const char* Shown(Msg id) { return MessageEntry(id).In(CurrentLanguage()); }

inline const char* kWelcome() { return Shown(Msg::kWelcome); }
inline const char* kDownloadOk() { return Shown(Msg::kDownloadOk); }
inline const char* kDownloadFailed() { return Shown(Msg::kDownloadFailed); }
inline const char* kUploadOk() { return Shown(Msg::kUploadOk); }
inline const char* kUploadFailed() { return Shown(Msg::kUploadFailed); }
inline const char* kDeviceInfoNotSaved() { return Shown(Msg::kDeviceInfoNotSaved); }
// After a successful download, the read-back's progress and verdict follow the success text.
inline const char* kVerifying() { return Shown(Msg::kVerifying); }
inline const char* kVerifySame() { return Shown(Msg::kVerifySame); }
inline const char* kVerifyMismatch() { return Shown(Msg::kVerifyMismatch); }
inline const char* kVerifyFailed() { return Shown(Msg::kVerifyFailed); }
inline const char* kVerifyFailedMessage() { return Shown(Msg::kVerifyFailedMessage); }
// A code-transmitter download without device information of ours sends the device's own back.
inline const char* kInfoFromDevice() { return Shown(Msg::kInfoFromDevice); }
inline const char* kInfoNotRead() { return Shown(Msg::kInfoNotRead); }
inline const char* kInfoNotReadMessage() { return Shown(Msg::kInfoNotReadMessage); }
// A download that failed after it had begun to change the device.
inline const char* kPartialDownloadMessage() { return Shown(Msg::kPartialDownloadMessage); }
inline const char* kUnconfirmedFrameMessage() { return Shown(Msg::kUnconfirmedFrameMessage); }
inline const char* kThreadStartFailed() { return Shown(Msg::kThreadStartFailed); }
inline const char* kClearQuestion() { return Shown(Msg::kClearQuestion); }
inline const char* kClearCaption() { return Shown(Msg::kClearCaption); }
inline const char* kStatusInitial() { return Shown(Msg::kStatusInitial); }

// File content: KM27A.dat's header holds these in every language.
inline constexpr const char kMaker[] = "岚曜测控技术研究有限公司";
inline constexpr const char kFileVersion[] = "KM27A 1.0";

}  // namespace km27::text
