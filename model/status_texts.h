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
// A code-transmitter download without device information of ours sends the device's own back.
inline constexpr const char kInfoFromDevice[] = "  设备信息取自下位机";
inline constexpr const char kInfoNotRead[] = "  未能读取下位机的设备信息";
inline constexpr const char kInfoNotReadMessage[] =
    "工作目录中没有可用的设备信息文件 DDINFO.txt。为免抹去下位机自己的设备信息，下载前先从下位机读取它，"
    "再原样下发；但未能读取（无应答或应答损坏）。\n\n"
    "下载没有进行，下位机中的程序没有改变。";
// A download that failed after it had begun to change the device.
inline constexpr const char kPartialDownloadMessage[] =
    "下载没有完成，但下位机已确认收到部分数据块：其中的程序可能新旧混杂。\n\n"
    "请重新下载。";
inline constexpr const char kUnconfirmedFrameMessage[] =
    "未收到下位机的接收确认，但参数帧已经发出：下位机可能已换成新程序，也可能仍是原程序。\n\n"
    "请重新下载，或上传核对。";
inline constexpr const char kThreadStartFailed[] = "建立传输线程失败";
inline constexpr const char kClearQuestion[] = "确定要清空所有数据吗？";
inline constexpr const char kClearCaption[] = "KM27A参数数据设置";
inline constexpr const char kStatusInitial[] = "命令发送状态";
inline constexpr const char kMaker[] = "岚曜测控技术研究有限公司";
inline constexpr const char kFileVersion[] = "KM27A 1.0";

}  // namespace km27::text
