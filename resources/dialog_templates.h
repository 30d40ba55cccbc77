#pragma once
// The window templates as data: dialog 102 (main window), dialog 100 (About
// box), dialog 103 (options box) and menu 129. Positions are dialog units.
// Every front end builds its window from these tables, so the layout has one
// source.

#include <cstdint>

#include "app/version.h"

namespace tessaro::templates {

enum class ControlKind { Static, Edit, Button, DefaultButton, GroupBox, Progress, ListView, Icon, CheckBox, RadioButton };

// Styles that matter to the look and to behaviour.
enum Style : std::uint32_t {
  kNone = 0,
  kBorder = 1u << 0,
  kAutoHScroll = 1u << 1,
  kDisabled = 1u << 2,
  kHidden = 1u << 3,
  kMultiLine = 1u << 4,
  kVScroll = 1u << 5,
  kSmooth = 1u << 6,
  kReport = 1u << 7,
  kTabStop = 1u << 8,
  kNoPrefix = 1u << 9,  // static text: "&" is shown, not an accelerator
  kGroup = 1u << 10,    // the first of a group of radio buttons
};

struct Control {
  int id;  // -1: a control without an id of its own
  ControlKind kind;
  std::uint32_t style;
  const char* text;
  int x, y, width, height;
};

struct Dialog {
  int id;
  const char* caption;
  int width, height;
  const char* font;
  int pointSize;
  int menu;  // 0: none
  const Control* controls;
  int controlCount;
};

// Template 102, in template order (which is the tab order).
inline constexpr Control kMainControls[] = {
    {-1, ControlKind::Static, kNone, "CHK所在目录:", 13, 104, 46, 8},
    {1000, ControlKind::Edit, kBorder | kAutoHScroll | kTabStop, "", 62, 102, 356, 13},
    {1001, ControlKind::Button, kTabStop, "选择", 421, 102, 45, 12},
    {-1, ControlKind::Static, kNone, "文件保存位置:", 13, 156, 45, 8},
    {1002, ControlKind::Edit, kBorder | kAutoHScroll | kTabStop, "", 62, 154, 356, 13},
    {1003, ControlKind::Button, kTabStop, "选择", 421, 154, 45, 12},
    {-1, ControlKind::GroupBox, kNone, "进度信息", 4, 196, 470, 81},
    {-1, ControlKind::Static, kNone, "CHK文件个数:", 180, 213, 47, 8},
    {1004, ControlKind::Static, kNone, "0", 237, 213, 20, 8},
    {1005, ControlKind::Static, kNone, "已检测/恢复文件个数:", 326, 213, 68, 8},
    {1011, ControlKind::Static, kNone, "0", 400, 213, 20, 8},
    {1024, ControlKind::Button, kTabStop, "检测", 135, 119, 50, 14},
    {1025, ControlKind::Button, kDisabled | kTabStop, "停止", 302, 119, 50, 14},
    {-1, ControlKind::Static, kNone, "支持文件类型数量:", 13, 213, 70, 8},
    {1008, ControlKind::Static, kNone, "0", 83, 213, 20, 8},
    {1009, ControlKind::Progress, kSmooth, "", 13, 262, 451, 9},
    {1010, ControlKind::Progress, kSmooth, "", 13, 239, 451, 9},
    {-1, ControlKind::Static, kNone, "恢复总进度", 13, 253, 87, 8},
    {-1, ControlKind::Static, kNone, "正在恢复的文件:", 13, 229, 56, 8},
    {1012, ControlKind::Static, kNone, "NULL", 83, 229, 313, 8},
    {1014, ControlKind::ListView, kReport | kBorder | kTabStop, "", 12, 16, 262, 80},
    {1017, ControlKind::DefaultButton, kHidden | kDisabled | kTabStop, "default", 14, 119, 42, 12},
    {-1, ControlKind::GroupBox, kNone, "第1步(检测)", 4, 2, 470, 135},
    {1022, ControlKind::Edit, kMultiLine | kVScroll | kBorder | kTabStop, "", 280, 16, 185, 80},
    {-1, ControlKind::GroupBox, kNone, "第2步(恢复)", 4, 140, 470, 51},
    {1023, ControlKind::Button, kTabStop, "恢复", 134, 172, 50, 14},
    {1015, ControlKind::Button, kDisabled | kTabStop, "停止", 302, 172, 50, 14},
};

inline constexpr Dialog kMainDialog = {
    102, "Tessaro V" TESSARO_VERSION " - 让数据恢复更简单！", 481, 284, "微软雅黑", 9, 129,
    kMainControls, static_cast<int>(sizeof kMainControls / sizeof kMainControls[0])};

// Template 100.
inline constexpr Control kAboutControls[] = {
    {-1, ControlKind::Icon, kNone, "128", 11, 17, 20, 20},
    {-1, ControlKind::Static, kNoPrefix, "Tessaro V" TESSARO_VERSION, 40, 12, 119, 8},
    {1, ControlKind::DefaultButton, kTabStop, "确定", 190, 7, 50, 14},
};

inline constexpr Dialog kAboutDialog = {
    100, "关于 Tessaro", 247, 86, "MS Sans Serif", 10, 0,
    kAboutControls, static_cast<int>(sizeof kAboutControls / sizeof kAboutControls[0])};

// Template 103, the options box of menu "选项(&O)...": what the window's
// recovery does beyond copying each fragment whole under its own name.
inline constexpr Control kOptionsControls[] = {
    {-1, ControlKind::GroupBox, kNone, "恢复方式", 7, 4, 266, 58},
    {1101, ControlKind::CheckBox, kTabStop, "文件结构能证明结尾时，截去结尾之后的残余数据(&T)", 15, 17, 250, 10},
    {1102, ControlKind::CheckBox, kTabStop, "一个碎片中含有多个文件时，逐个拆分恢复(&S)", 15, 31, 250, 10},
    {1108, ControlKind::CheckBox, kTabStop, "读取出错时跳过坏扇区，保留能读出的全部数据(&B)", 15, 45, 250, 10},
    {-1, ControlKind::GroupBox, kNone, "文件名", 7, 66, 266, 58},
    {1103, ControlKind::RadioButton, kGroup | kTabStop, "碎片的名称，如 FILE0000.jpg(&F)", 15, 79, 250, 10},
    {1104, ControlKind::RadioButton, kTabStop, "根据文件内容(标题、拍摄时间等)命名(&C)", 15, 93, 250, 10},
    {1105, ControlKind::RadioButton, kTabStop, "丢失目录中记录的原名，并重建其目录(&N)", 15, 107, 250, 10},
    {1106, ControlKind::CheckBox, kGroup | kTabStop, "按文件类型分文件夹存放(&K)", 15, 130, 250, 10},
    {1107, ControlKind::CheckBox, kTabStop, "恢复完成后，在保存位置生成恢复报告并用浏览器打开(&R)", 15, 144, 250, 10},
    {1, ControlKind::DefaultButton, kTabStop, "确定", 166, 164, 50, 14},
    {2, ControlKind::Button, kTabStop, "取消", 223, 164, 50, 14},
};

inline constexpr Dialog kOptionsDialog = {
    103, "恢复选项", 280, 185, "微软雅黑", 9, 0,
    kOptionsControls, static_cast<int>(sizeof kOptionsControls / sizeof kOptionsControls[0])};

// Menu 129: two drop-downs with an empty top-level separator between them.
struct MenuItem {
  int menu;  // 0: "文件", 1: the top-level separator, 2: "内容"
  int id;    // 0: separator
  const char* text;
};

inline constexpr const char* kMenuTitles[] = {"文件", "", "内容"};

inline constexpr MenuItem kMenuItems[] = {
    {0, 1006, "开始"}, {0, 0, ""}, {0, 1007, "结束"}, {0, 0, ""}, {0, 32778, "选项(&O)..."}, {0, 0, ""}, {0, 2, "退出"},
    {2, 32775, "内容"}, {2, 0, ""}, {2, 32777, "关于"},
};

inline constexpr const char* kAboutString = "About Tessaro(&A)...";  // string 101

}  // namespace tessaro::templates
