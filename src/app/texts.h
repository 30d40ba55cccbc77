#pragma once
// The program's own texts, UTF-8. The window's texts are Chinese; per-file
// failures and start-up problems are English, as users of earlier versions know them.

#include "app/version.h"

namespace tessaro::texts {

inline constexpr const char* kCaption = "Tessaro V" TESSARO_VERSION " - 让数据恢复更简单！";
inline constexpr const char* kAboutCaption = "关于 Tessaro";
inline constexpr const char* kAboutVersion = "Tessaro V" TESSARO_VERSION;
inline constexpr const char* kAboutMenuItem = "About Tessaro(&A)...";

inline constexpr const char* kSourcePrompt = "选择包含.CHK文件的文件目录,类似于\"FOUND.xxxx\"";
inline constexpr const char* kDestPrompt = "选择一个文件目录用于保存恢复后的文件(不要选择源磁盘/目录)";

inline constexpr const char* kNoSource = "请选择包含.CHK文件的文件目录\n";
inline constexpr const char* kNoDest = "请选择一个文件目录用于保存恢复后的文件(不要选择源磁盘/目录)\n";
inline constexpr const char* kParamError = "参数错误";
inline constexpr const char* kDetectStartFailed = "启动检测功能失败!";
inline constexpr const char* kRecoverStartFailed = "启动恢复功能失败!";
inline constexpr const char* kErrorCaption = "错误";
// The recovery report of the options box: it could not be written.
inline constexpr const char* kRescueSummary = "有 %llu 个文件含有无法读取的扇区，共 %llu 字节无法读取，已用零填充。";
inline constexpr const char* kRescueSummaryCaption = "恢复完成";
inline constexpr const char* kReportFailed = "无法写入恢复报告 %s：%s";

inline constexpr const char* kColumnKind = "文件类型";
inline constexpr const char* kColumnExtension = "后缀名";
inline constexpr const char* kColumnCount = "可恢复个数";

// The summary of a detection pass; %d is the number of recoverable files.
inline constexpr const char* kDetectSummary =
    "分析完毕，共发现 %d 个可恢复的文件，请在左侧列表中查看每种文件类型的可恢复个数。";

inline constexpr const char* kCatalogueErrorCaption = "error";
inline constexpr const char* kAllocFailed = "Alloc memory for parameter failed";
inline constexpr const char* kAllocFailedCaption = "Error";
inline constexpr const char* kHelpFile = "help.chm";
inline constexpr const char* kHelpMissing = "Cann't find help file help.chm";
inline constexpr const char* kHelpMissingCaption = "Open Error";

inline constexpr const char* kStatusFailed = "cann't get %s information, err:%d\n";
inline constexpr const char* kStatusFailedCaption = "Get File Info Error";
inline constexpr const char* kOpenSourceFailed = "Open file %s for read failed";
inline constexpr const char* kCreateFailed = "Create file %s for write failed";
inline constexpr const char* kOpenFileErrorCaption = "Open File Error";
inline constexpr const char* kReadFailed = "read file %s error";
// A format check (the command line's --check) that could not read its fragment.
inline constexpr const char* kCheckReadFailed = "read file %s failed\n";
inline constexpr const char* kReadFailedCaption = "read File Error";
inline constexpr const char* kWriteFailed = "write file %s error";
inline constexpr const char* kWriteFailedCaption = "write File Error";

}  // namespace tessaro::texts
