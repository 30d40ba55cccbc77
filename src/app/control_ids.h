#pragma once
// The fixed ids of the main window's controls, menu items and commands.

namespace tessaro::ids {

inline constexpr int kSourceEdit = 1000;      // shows the fragment folder
inline constexpr int kChooseSource = 1001;    // "选择"
inline constexpr int kDestEdit = 1002;        // shows the destination folder
inline constexpr int kChooseDest = 1003;      // "选择"
inline constexpr int kFileCount = 1004;       // files listed by the recovery scan
inline constexpr int kProcessedLabel = 1005;  // "已检测/恢复文件个数:"
inline constexpr int kMenuStart = 1006;       // menu "开始": a detection
inline constexpr int kMenuEnd = 1007;         // menu "结束": stops the pass that runs
inline constexpr int kKindCount = 1008;       // number of configured kinds
inline constexpr int kTotalProgress = 1009;   // overall bar
inline constexpr int kFileProgress = 1010;    // file bar
inline constexpr int kProcessedCount = 1011;  // files handled by the recovery pass
inline constexpr int kCurrentFile = 1012;     // name of the file in hand
inline constexpr int kKindList = 1014;        // kind list, report view
inline constexpr int kStopRecover = 1015;     // "停止" of step 2
inline constexpr int kDefaultButton = 1017;   // hidden, disabled default button
inline constexpr int kInfo = 1022;            // information box
inline constexpr int kRecover = 1023;         // "恢复"
inline constexpr int kDetect = 1024;          // "检测"
inline constexpr int kStopDetect = 1025;      // "停止" of step 1

inline constexpr int kOk = 1;                 // About box "确定"
inline constexpr int kExit = 2;               // menu "退出": ends the dialog as cancel
inline constexpr int kOptions = 32778;        // menu "选项(&O)..."
inline constexpr int kHelpContents = 32775;   // menu "内容"
inline constexpr int kAbout = 32777;          // menu "关于"
inline constexpr int kSysAbout = 16;          // system menu "About Tessaro(&A)..."

inline constexpr int kMainDialog = 102;
inline constexpr int kAboutDialog = 100;
inline constexpr int kOptionsDialog = 103;

// The options box's controls.
inline constexpr int kOptionTrim = 1101;
inline constexpr int kOptionSplit = 1102;
inline constexpr int kOptionNamesFragment = 1103;
inline constexpr int kOptionNamesContent = 1104;
inline constexpr int kOptionNamesOriginal = 1105;
inline constexpr int kOptionSortByKind = 1106;
inline constexpr int kOptionReport = 1107;
inline constexpr int kOptionRescue = 1108;
// The name buttons in the order of RecoveryOptions::Names.
inline constexpr int kOptionNames[] = {kOptionNamesFragment, kOptionNamesContent, kOptionNamesOriginal};
inline constexpr int kMenu = 129;
inline constexpr int kIcon = 128;
inline constexpr int kAboutString = 101;

}  // namespace tessaro::ids
