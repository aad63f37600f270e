#pragma once

// Texts the window shows in its status line and boxes (UTF-8 here; GBK only where they leave the program).
namespace km27::text {

inline constexpr const char kWelcome[] = " 欢迎使用本软件—岚曜测控技术研究有限公司";
inline constexpr const char kDownloadOk[] = " KM27A参数数据下载成功!";
inline constexpr const char kDownloadFailed[] = " KM27A参数数据下载失败!";
inline constexpr const char kUploadOk[] = " KM27A参数数据上传成功!";
inline constexpr const char kUploadFailed[] = " KM27A参数数据上传失败!";
inline constexpr const char kDeviceInfoNotSaved[] = "  但设备信息文件未能保存";
// After a successful download, the read-back's progress and verdict follow the success text.
inline constexpr const char kVerifying[] = "  校验中…";
inline constexpr const char kVerifySame[] = "  校验一致";
inline constexpr const char kVerifyMismatch[] = "  校验不一致";
inline constexpr const char kVerifyFailed[] = "  校验失败：未能读回";
inline constexpr const char kVerifyFailedMessage[] =
    "下载已完成，但未能从下位机读回参数进行校验（无应答或应答损坏）。\n\n"
    "下位机中的参数未经证实，请检查连接后重新下载。";
inline constexpr const char kThreadStartFailed[] = "建立传输线程失败";
inline constexpr const char kClearQuestion[] = "确定要清空所有数据吗？";
inline constexpr const char kClearCaption[] = "KM27A参数数据设置";
inline constexpr const char kStatusInitial[] = "命令发送状态";
inline constexpr const char kMaker[] = "岚曜测控技术研究有限公司";
inline constexpr const char kFileVersion[] = "KM27A 1.0";

}  // namespace km27::text
