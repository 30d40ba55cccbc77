// The real window, driven as a user would: each case opens the main dialog on
// a thread of its own, presses buttons with BM_CLICK from the test's thread,
// answers the folder browser and the message boxes, and reads back control
// texts, enabled states, list cells and progress positions.
//
// Needs a display (Wine under Xvfb in CI). Program arguments, beside
// GoogleTest's own:
//   --samples=FOLDER     a folder of real fragments for the two passes
//                        (default: a few real pictures made here)
//   --screenshot=FILE    the main window after a detection pass, as a .bmp
//   --options-screenshot=FILE  the options box with cutting at the true end chosen

#include <gtest/gtest.h>

#include "win_test_support.h"

#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "app/texts.h"
#include "catalog/fragment_engine.h"
#include "platform/platform.h"
#include "real_files.h"
#include "resources/dialog_templates.h"
#include "win32/win32_dialog_window.h"
#include "win_test_support.h"

#ifndef TESSARO_SOURCE_DIR
#error "the source folder is given by the build"
#endif

namespace tessaro {
namespace {

using wintest::ReadFileBytes;
using wintest::TempDir;
using wintest::U;
using wintest::W;

std::string g_samples;     // --samples
std::string g_screenshot;  // --screenshot
std::string g_optionsScreenshot;  // --options-screenshot

// A safety net against a hung window, never a measure of speed.
constexpr DWORD kPatience = 120000;

bool WaitFor(const std::function<bool()>& ready) {
  const DWORD start = GetTickCount();
  while (!ready()) {
    if (GetTickCount() - start > kPatience) return false;
    Sleep(10);
  }
  return true;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::string TextOf(HWND hwnd) {
  wchar_t text[4096] = {};
  GetWindowTextW(hwnd, text, 4096);
  return U(text);
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Windows paths for what the build names in its own spelling ("/work/..."
// under Wine is drive Z:).
std::string SystemPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// A window as the screen shows it (its caption and frame drawn by Wine's
// desktop, as Windows would), written as a .bmp.
void Shoot(HWND window, const std::string& path) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Sleep(1000);  // let the display catch up; a picture, not a measurement
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
  std::string bmp(reinterpret_cast<const char*>(&file), sizeof file);
  bmp.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  bmp.append(static_cast<const char*>(bits), stride * static_cast<DWORD>(h));
  EXPECT_TRUE(wintest::WriteFileBytes(SystemPath(path), bmp));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Like a user's start: tessaro.cfg in the current folder, no help file.
    const std::string catalogue = ReadFileBytes(SystemPath(TESSARO_SOURCE_DIR "/resources/tessaro.cfg"));
    ASSERT_NE(catalogue, "<missing>");
    wchar_t home[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, home);
    home_ = home;
    cwd_.Write("tessaro.cfg", catalogue);
    ASSERT_TRUE(SetCurrentDirectoryW(W(cwd_.path()).c_str()));

    std::atomic<DWORD> thread{0};
    ui_ = std::thread([this, &thread] {
      thread = GetCurrentThreadId();
      win32::Win32DialogWindow window(GetModuleHandleW(nullptr));
      MainDialog dialog(window);
      window.Run(dialog);
    });
    ASSERT_TRUE(WaitFor([&] { return thread.load() != 0; }));
    uiThread_ = thread;
    // A window that never shows (no display) would make every case wait.
    static bool neverOpened = false;
    ASSERT_FALSE(neverOpened) << "the main window did not open before";
    neverOpened = !WaitFor([&] {
      main_ = FindThreadWindow([](HWND w) { return TextOf(w) == texts::kCaption; });
      return main_ != nullptr && IsWindowVisible(main_);
    });
    ASSERT_FALSE(neverOpened) << "the main window did not open";
  }

  void TearDown() override {
    if (ui_.joinable()) {
      if (IsWindow(main_)) {
        // Whatever box a failed case left open goes first.
        while (HWND box = OwnedDialog()) PostMessageW(box, WM_COMMAND, IDCANCEL, 0), Sleep(50);
        PostMessageW(main_, WM_COMMAND, IDCANCEL, 0);
      } else {
        PostThreadMessageW(uiThread_, WM_QUIT, 0, 0);  // a window that never showed
      }
      ui_.join();
    }
    SetCurrentDirectoryW(home_.c_str());
  }

  bool Closed() {
    if (!WaitFor([&] { return !IsWindow(main_); })) return false;
    ui_.join();
    return true;
  }

  HWND FindThreadWindow(const std::function<bool(HWND)>& match) {
    struct Search {
      const std::function<bool(HWND)>* match;
      HWND found;
    } search{&match, nullptr};
    EnumThreadWindows(
        uiThread_,
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          if (IsWindowVisible(w) && (*s->match)(w)) {
            s->found = w;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // A dialog box other than the main window: a message box, the browser, About.
  HWND OwnedDialog() {
    return FindThreadWindow([this](HWND w) { return w != main_ && ClassOf(w) == L"#32770"; });
  }

  HWND WaitForOwnedDialog() {
    HWND box = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (box = OwnedDialog()) != nullptr; })) << "no box opened";
    return box;
  }

  static std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
          reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
  }

  struct BoxSeen {
    std::string caption, text;
  };

  // Reads the message box that opens next and presses its OK.
  BoxSeen AnswerMessageBox() {
    BoxSeen seen;
    HWND box = WaitForOwnedDialog();
    if (box == nullptr) return seen;
    seen.caption = TextOf(box);
    for (HWND child : Children(box)) {
      if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && !TextOf(child).empty()) {
        seen.text += TextOf(child);
      }
    }
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    return seen;
  }

  // Presses a "选择" button and answers the system's folder browser with
  // `folder`, or cancels it when `folder` is empty. Returns the prompt shown.
  std::string Browse(int button, const std::string& folder) {
    PostMessageW(Item(button), BM_CLICK, 0, 0);
    HWND browser = nullptr;
    EXPECT_TRUE(WaitFor([&] {
      browser = FindThreadWindow([this](HWND w) {
        if (w == main_ || ClassOf(w) != L"#32770") return false;
        for (HWND c : Children(w)) {
          if (ClassOf(c) == WC_TREEVIEWW) return true;
        }
        return false;
      });
      return browser != nullptr;
    })) << "the folder browser did not open";
    if (browser == nullptr) return {};
    EXPECT_FALSE(IsWindowEnabled(main_)) << "the browser is owned by the main window";
    std::string prompt;
    for (HWND child : Children(browser)) {
      if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) prompt += TextOf(child);
    }
    if (folder.empty()) {
      PostMessageW(GetDlgItem(browser, IDCANCEL), BM_CLICK, 0, 0);
    } else {
      // The browser fills its tree as it opens; the selection is asked for
      // until the tree shows it.
      const std::wstring wide = W(folder);
      const std::string leaf = folder.substr(folder.find_last_of('\\') + 1);
      EXPECT_TRUE(WaitFor([&] {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wide.c_str()));
        return SelectedTreeText(browser) == leaf;
      })) << "the browser did not select " << folder;
      PostMessageW(GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
    }
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
    const int edit = button == ids::kChooseSource ? ids::kSourceEdit : ids::kDestEdit;
    EXPECT_TRUE(WaitFor([&] { return Text(edit) == folder; }))
        << "edit " << edit << " shows \"" << Text(edit) << "\", not \"" << folder << "\"";
    return prompt;
  }

  static std::string SelectedTreeText(HWND browser) {
    for (HWND c : Children(browser)) {
      if (ClassOf(c) != WC_TREEVIEWW) continue;
      auto item = reinterpret_cast<HTREEITEM>(SendMessageW(c, TVM_GETNEXTITEM, TVGN_CARET, 0));
      if (item == nullptr) return {};
      wchar_t text[MAX_PATH] = {};
      TVITEMW tv{};
      tv.mask = TVIF_TEXT;
      tv.hItem = item;
      tv.pszText = text;
      tv.cchTextMax = MAX_PATH;
      SendMessageW(c, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
      return U(text);
    }
    return {};
  }

  HWND Item(int id) const { return GetDlgItem(main_, id); }
  std::string Text(int id) const {
    wchar_t text[4096] = {};
    GetDlgItemTextW(main_, id, text, 4096);
    return U(text);
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  int Position(int id) const { return static_cast<int>(SendMessageW(Item(id), PBM_GETPOS, 0, 0)); }

  int Rows() const { return static_cast<int>(SendMessageW(Item(ids::kKindList), LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(int row, int column) const {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(Item(ids::kKindList), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return U(text);
  }
  std::map<std::string, std::string> CountsByExtension() const {
    std::map<std::string, std::string> counts;
    // Kinds that share an extension are counted on its first row.
    for (int r = 0; r < Rows(); ++r) counts.emplace(Cell(r, 1), Cell(r, 2));
    return counts;
  }

  bool Idle() const {
    return Enabled(ids::kDetect) && Enabled(ids::kRecover) && !Enabled(ids::kStopDetect) &&
           !Enabled(ids::kStopRecover) && Enabled(ids::kChooseSource) && Enabled(ids::kChooseDest) &&
           Enabled(ids::kSourceEdit) && Enabled(ids::kDestEdit);
  }

  // The fragment folder of the passes: the given samples, or real pictures,
  // a text, a blob of no kind and a subfolder made here.
  std::string Fragments() {
    if (!g_samples.empty()) return SystemPath(g_samples);
    const std::string folder = work_.Sub("FOUND.000");
    wintest::WriteFileBytes(JoinPath(folder, "FILE0000.CHK"), wintest::kJpeg);
    wintest::WriteFileBytes(JoinPath(folder, "FILE0001.CHK"), wintest::kPng);
    wintest::WriteFileBytes(JoinPath(folder, "FILE0002.CHK"), wintest::kGif);
    wintest::WriteFileBytes(JoinPath(folder, "FILE0003.CHK"), "Plain words of a lost letter.\r\n");
    std::string blob(5000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7 + 1);
    wintest::WriteFileBytes(JoinPath(folder, "FILE0004.CHK"), blob);
    CreateDirectoryW(W(JoinPath(folder, "FOUND.001")).c_str(), nullptr);
    return folder;
  }

  // What the catalogue makes of every listed fragment, by extension.
  std::map<std::string, int> Expected(const std::string& folder, std::vector<std::string>* names = nullptr) {
    FragmentEngine engine(JoinPath(cwd_.path(), "tessaro.cfg"));
    std::map<std::string, int> counts;
    SystemPlatform().ListFolder(folder, [&](std::string_view name, std::uint64_t) {
      if (name.empty() || name[0] == '.') return;
      if (names != nullptr) names->emplace_back(name);
      const std::string path = JoinPath(folder, std::string(name));
      if (const FileTypeRecord* kind = engine.IdentifyFile(path.c_str())) ++counts[kind->ExtensionOrEmpty()];
    });
    return counts;
  }

  std::wstring home_;  // where the test program was started, given back afterwards
  TempDir cwd_;
  TempDir work_;
  std::thread ui_;
  DWORD uiThread_ = 0;
  HWND main_ = nullptr;
};

TEST_F(WindowTest, OpensAsTemplate102WithEveryControlInPlace) {
  namespace t = templates;
  EXPECT_EQ(TextOf(main_), t::kMainDialog.caption);
  std::vector<HWND> direct;
  for (HWND c : Children(main_)) {
    if (GetParent(c) == main_) direct.push_back(c);
  }
  ASSERT_EQ(static_cast<int>(direct.size()), t::kMainDialog.controlCount);
  for (int i = 0; i < t::kMainDialog.controlCount; ++i) {
    const t::Control& want = t::kMainControls[i];
    HWND got = direct[static_cast<std::size_t>(i)];  // template order is z-order
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.text + "\"");
    if (want.id != -1) {
      EXPECT_EQ(GetDlgCtrlID(got), want.id);
    }
    // Where the template puts it, in this window's dialog units (the dialog
    // manager converts position and size each on its own).
    RECT expected{want.x, want.y, want.width, want.height};
    MapDialogRect(main_, &expected);
    RECT actual;
    GetWindowRect(got, &actual);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right - actual.left, expected.right);
    EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    EXPECT_EQ(IsWindowEnabled(got) != FALSE, (want.style & t::kDisabled) == 0);
    EXPECT_EQ(IsWindowVisible(got) != FALSE, (want.style & t::kHidden) == 0);
    const std::wstring cls = ClassOf(got);
    switch (want.kind) {
      case t::ControlKind::Progress: EXPECT_EQ(cls, PROGRESS_CLASSW); break;
      case t::ControlKind::ListView: EXPECT_EQ(cls, WC_LISTVIEWW); break;
      case t::ControlKind::Edit: EXPECT_EQ(_wcsicmp(cls.c_str(), L"Edit"), 0); break;
      case t::ControlKind::Static: EXPECT_EQ(_wcsicmp(cls.c_str(), L"Static"), 0); break;
      default: EXPECT_EQ(_wcsicmp(cls.c_str(), L"Button"), 0); break;
    }
    if (want.kind != t::ControlKind::Edit && want.id != ids::kKindCount) {
      EXPECT_EQ(TextOf(got), want.text);
    }
  }

  // The kind list: the catalogue's kinds in table order, each at "0".
  FragmentEngine engine(JoinPath(cwd_.path(), "tessaro.cfg"));
  ASSERT_TRUE(engine.ready);
  EXPECT_EQ(Text(ids::kKindCount), std::to_string(engine.kindCount));
  ASSERT_EQ(Rows(), engine.kindCount);
  for (int r = 0; r < engine.kindCount; ++r) {
    EXPECT_EQ(Cell(r, 0), engine.kinds[static_cast<std::size_t>(r)]->NameOrEmpty());
    EXPECT_EQ(Cell(r, 1), engine.kinds[static_cast<std::size_t>(r)]->ExtensionOrEmpty());
    EXPECT_EQ(Cell(r, 2), "0");
  }
  HWND header = reinterpret_cast<HWND>(SendMessageW(Item(ids::kKindList), LVM_GETHEADER, 0, 0));
  ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
  const char* titles[] = {texts::kColumnKind, texts::kColumnExtension, texts::kColumnCount};
  for (int c = 0; c < 3; ++c) {
    wchar_t title[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = 64;
    SendMessageW(Item(ids::kKindList), LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    EXPECT_EQ(U(title), titles[c]);
  }
  EXPECT_EQ(SendMessageW(Item(ids::kKindList), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) &
                (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
            LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

  // The system menu ends with a separator and the About item.
  HMENU system = GetSystemMenu(main_, FALSE);
  const int count = GetMenuItemCount(system);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuItemID(system, count - 1), static_cast<UINT>(ids::kSysAbout));
  wchar_t about[64] = {};
  GetMenuStringW(system, static_cast<UINT>(count - 1), about, 64, MF_BYPOSITION);
  EXPECT_EQ(U(about), texts::kAboutMenuItem);
  EXPECT_TRUE(GetMenuState(system, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(GetMenuItemCount(GetMenu(main_)), 3);
  EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(main_, WM_QUERYDRAGICON, 0, 0), 0);
}

TEST_F(WindowTest, EnterDoesNotCloseTheWindowButEscapeDoes) {
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(GetGUIThreadInfo(uiThread_, &gui));
  ASSERT_NE(gui.hwndFocus, nullptr);
  PostMessageW(gui.hwndFocus, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(gui.hwndFocus, WM_KEYUP, VK_RETURN, 0);
  // The click is queued behind the key: its box proves the key was handled.
  PostMessageW(Item(ids::kDetect), BM_CLICK, 0, 0);
  EXPECT_EQ(AnswerMessageBox().caption, texts::kParamError);
  EXPECT_TRUE(IsWindow(main_));

  ASSERT_TRUE(GetGUIThreadInfo(uiThread_, &gui));
  PostMessageW(gui.hwndFocus ? gui.hwndFocus : main_, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(Closed());
}

TEST_F(WindowTest, TheCloseBoxClosesTheWindow) {
  PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Closed());
}

TEST_F(WindowTest, TheExitMenuItemClosesTheWindow) {
  PostMessageW(main_, WM_COMMAND, MAKEWPARAM(ids::kExit, 0), 0);
  EXPECT_TRUE(Closed());
}

TEST_F(WindowTest, StartingWithoutFoldersAsksForThemAndChangesNothing) {
  PostMessageW(Item(ids::kDetect), BM_CLICK, 0, 0);
  BoxSeen box = AnswerMessageBox();
  EXPECT_EQ(box.caption, texts::kParamError);
  EXPECT_EQ(Trimmed(box.text), Trimmed(texts::kNoSource));
  EXPECT_TRUE(Idle());

  PostMessageW(Item(ids::kRecover), BM_CLICK, 0, 0);
  box = AnswerMessageBox();
  EXPECT_EQ(Trimmed(box.text), Trimmed(texts::kNoSource));

  const std::string folder = Fragments();
  Browse(ids::kChooseSource, folder);
  PostMessageW(Item(ids::kRecover), BM_CLICK, 0, 0);
  box = AnswerMessageBox();
  EXPECT_EQ(box.caption, texts::kParamError);
  EXPECT_EQ(Trimmed(box.text), Trimmed(texts::kNoDest));
  EXPECT_TRUE(Idle());
  EXPECT_EQ(Text(ids::kSourceEdit), folder);
}

TEST_F(WindowTest, TheBrowserShowsItsPromptsAndCancellingEmptiesTheFolder) {
  const std::string folder = Fragments();
  EXPECT_NE(Browse(ids::kChooseSource, folder).find(texts::kSourcePrompt), std::string::npos);
  EXPECT_NE(Browse(ids::kChooseSource, "").find(texts::kSourcePrompt), std::string::npos);
  EXPECT_EQ(Text(ids::kSourceEdit), "");
  EXPECT_NE(Browse(ids::kChooseDest, work_.path()).find(texts::kDestPrompt), std::string::npos);
  EXPECT_TRUE(IsWindowEnabled(main_));
}

TEST_F(WindowTest, DetectionPassOverRealFilesFillsTheKindList) {
  const std::string folder = Fragments();
  const std::map<std::string, int> expected = Expected(folder);
  ASSERT_FALSE(expected.empty()) << "no fragment of a known kind in " << folder;
  Browse(ids::kChooseSource, folder);

  PostMessageW(Item(ids::kDetect), BM_CLICK, 0, 0);
  // Either it is still running (only its stop enabled) or it is done.
  ASSERT_TRUE(WaitFor([&] { return !Text(ids::kInfo).empty() && Idle(); }));
  std::map<std::string, std::string> shown = CountsByExtension();
  int total = 0;
  for (const auto& [extension, count] : expected) {
    if (!shown.count(extension)) continue;  // the text kind has no row
    EXPECT_EQ(shown[extension], std::to_string(count)) << extension;
    total += count;
  }
  if (g_samples.empty()) {
    EXPECT_EQ(shown[".jpg"], "1");
    EXPECT_EQ(shown[".png"], "1");
    EXPECT_EQ(shown[".gif"], "1");
  }
  EXPECT_NE(Text(ids::kInfo).find(std::to_string(total)), std::string::npos) << Text(ids::kInfo);

  if (!g_screenshot.empty()) Shoot(main_, g_screenshot);
}

TEST_F(WindowTest, RecoveryPassOverRealFilesCopiesEveryRecognisedFragment) {
  const std::string folder = Fragments();
  std::vector<std::string> names;
  const std::map<std::string, int> expected = Expected(folder, &names);
  const std::string out = work_.Sub("恢复 out");
  Browse(ids::kChooseSource, folder);
  Browse(ids::kChooseDest, out);

  PostMessageW(Item(ids::kRecover), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return Text(ids::kFileCount) == std::to_string(names.size()) && Idle(); }));
  EXPECT_EQ(Text(ids::kProcessedCount), std::to_string(names.size()));
  EXPECT_EQ(Position(ids::kTotalProgress), 100);
  EXPECT_FALSE(OwnedDialog()) << "a failure box: " << TextOf(OwnedDialog());

  FragmentEngine engine(JoinPath(cwd_.path(), "tessaro.cfg"));
  int written = 0;
  for (const std::string& name : names) {
    const std::string path = JoinPath(folder, name);
    const FileTypeRecord* kind = engine.IdentifyFile(path.c_str());
    if (kind == nullptr) continue;
    const std::string output = JoinPath(out, name.substr(0, name.find('.')) + kind->ExtensionOrEmpty());
    EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(path)) << output;
    ++written;
  }
  int total = 0;
  for (const auto& entry : expected) total += entry.second;
  EXPECT_EQ(written, total);
  if (g_samples.empty()) {
    EXPECT_EQ(written, 4);  // three pictures and the text
  }
}

TEST_F(WindowTest, TheOptionsBoxTurnsCuttingAtTheTrueEndOnForTheNextRecovery) {
  // A whole picture with the slack of its last cluster after it.
  const std::string folder = work_.Sub("FOUND.002");
  wintest::WriteFileBytes(JoinPath(folder, "FILE0000.CHK"), wintest::kPng + std::string(700, '\0'));
  PostMessageW(main_, WM_COMMAND, MAKEWPARAM(ids::kOptions, 0), 0);
  HWND box = WaitForOwnedDialog();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(TextOf(box), "恢复选项");
  // Everything off, the fragment's own names chosen.
  for (int id : {ids::kOptionTrim, ids::kOptionSplit, ids::kOptionRescue, ids::kOptionSortByKind, ids::kOptionReport}) {
    EXPECT_EQ(IsDlgButtonChecked(box, id), BST_UNCHECKED) << id;
  }
  EXPECT_EQ(IsDlgButtonChecked(box, ids::kOptionNamesFragment), BST_CHECKED);
  PostMessageW(GetDlgItem(box, ids::kOptionTrim), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return IsDlgButtonChecked(box, ids::kOptionTrim) == BST_CHECKED; }));
  if (!g_optionsScreenshot.empty()) Shoot(box, g_optionsScreenshot);
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));

  const std::string out = work_.Sub("trimmed");
  Browse(ids::kChooseSource, folder);
  Browse(ids::kChooseDest, out);
  PostMessageW(Item(ids::kRecover), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return Text(ids::kProcessedCount) == "1" && Idle(); }));
  EXPECT_FALSE(OwnedDialog()) << "a failure box: " << TextOf(OwnedDialog());
  EXPECT_EQ(ReadFileBytes(JoinPath(out, "FILE0000.png")), wintest::kPng);
}

TEST_F(WindowTest, TheAboutBoxOpensFromTheMenuAndTheSystemMenu) {
  for (bool fromSystemMenu : {false, true}) {
    if (fromSystemMenu) {
      PostMessageW(main_, WM_SYSCOMMAND, ids::kSysAbout, 0);
    } else {
      PostMessageW(main_, WM_COMMAND, MAKEWPARAM(ids::kAbout, 0), 0);
    }
    HWND about = WaitForOwnedDialog();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(TextOf(about), texts::kAboutCaption);
    bool version = false, icon = false;
    for (HWND c : Children(about)) {
      version |= TextOf(c) == texts::kAboutVersion;
      icon |= SendMessageW(c, STM_GETICON, 0, 0) != 0;
    }
    EXPECT_TRUE(version);
    EXPECT_TRUE(icon);
    EXPECT_EQ(TextOf(GetDlgItem(about, IDOK)), "确定");
    PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
  }
}

TEST_F(WindowTest, HelpWithoutTheHelpFileSaysSo) {
  PostMessageW(main_, WM_COMMAND, MAKEWPARAM(ids::kHelpContents, 0), 0);
  BoxSeen box = AnswerMessageBox();
  EXPECT_EQ(box.caption, texts::kHelpMissingCaption);
  EXPECT_EQ(box.text, texts::kHelpMissing);
}

TEST_F(WindowTest, ClosingDuringARecoveryStopsAndWaitsForTheWorker) {
  // Enough bytes that the pass is still copying when the close arrives.
  const std::string folder = work_.Sub("big");
  std::string picture = wintest::kJpeg + std::string(8 << 20, '\x5A');
  for (int i = 0; i < 12; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%04d.CHK", i);
    wintest::WriteFileBytes(JoinPath(folder, name), picture);
  }
  const std::string out = work_.Sub("out");
  Browse(ids::kChooseSource, folder);
  Browse(ids::kChooseDest, out);
  PostMessageW(Item(ids::kRecover), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !Enabled(ids::kRecover); }));  // it runs
  PostMessageW(main_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(Closed());
  // Whatever was written is the start of its fragment; the fragments are whole.
  for (const std::wstring& name : wintest::FolderEntries(out)) {
    const std::string bytes = ReadFileBytes(JoinPath(out, U(name)));
    EXPECT_EQ(bytes, picture.substr(0, bytes.size())) << U(name);
  }
  for (const std::wstring& name : wintest::FolderEntries(folder)) {
    EXPECT_EQ(ReadFileBytes(JoinPath(folder, U(name))), picture);
  }
}

}  // namespace
}  // namespace tessaro

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = tessaro::wintest::U(argv[i]);
    if (arg.rfind("--samples=", 0) == 0) tessaro::g_samples = arg.substr(10);
    if (arg.rfind("--screenshot=", 0) == 0) tessaro::g_screenshot = arg.substr(13);
    if (arg.rfind("--options-screenshot=", 0) == 0) tessaro::g_optionsScreenshot = arg.substr(21);
  }
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  return RUN_ALL_TESTS();
}
