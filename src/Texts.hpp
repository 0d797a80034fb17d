// Every text a person sees from the updater, in one place, spelled exactly
// as the product has them. UTF-8, the encoding of the Linux desktop.
#pragma once

namespace texts {

inline constexpr char kWindowCaption[] = "Quenlark 升级程序 V1.0";
inline constexpr char kCheckButton[] = "检查更新";

// The version check.
inline constexpr char kCheckNetworkError[] = "网络连接出错，请稍候再试!";
inline constexpr char kNewVersionFound[] = "发现新版本，开始更新";
inline constexpr char kAlreadyNewest[] = "您当前的软件是最新版本，不需要进行更新";

// The download.
inline constexpr char kDownloadNetworkError[] = "网络出错，更新失败，请稍候更新！!";
inline constexpr char kLabelTotal[] = "本次总共需要下载文件";
inline constexpr char kLabelDownloaded[] = "个，已经下载";
inline constexpr char kLabelUnit[] = "个";
/// Raised before the first request when a listed name would leave the
/// update folder or the program folder; followed by the entry, as "up3=..\x".
inline constexpr char kUnsafeListedName[] = "更新文件列表中有不安全的文件名，更新已停止：";

// The installation.
inline constexpr char kDownloadDone[] =
    "下载所需的更新文件成功，如果您开启了主程序，升级程序将关闭主程序进行软件更新";
inline constexpr char kInstallFailed[] = "更新失败，请稍候更新！";
inline constexpr char kUpdateSucceeded[] = "软件更新成功，程序将重新启动";

}  // namespace texts
