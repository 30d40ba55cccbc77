// The native window: template 102 run by the system's dialog manager, the
// controls reached by id, worker calls carried to the window's thread.

#include "win32/win32_dialog_window.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "win32/about_box.h"
#include "win32/options_box.h"
#include "platform/wide_text.h"

namespace tessaro::win32 {

namespace {

// How long the waiting window thread sleeps between looks at a condition it
// is not told about; worker calls wake it at once.
constexpr DWORD kServeTick = 15;

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// The DPI the window is shown at: list columns are given in pixels at 96.
UINT WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi != nullptr) {
    if (UINT dpi = getDpi(hwnd); dpi != 0) return dpi;
  }
  HDC dc = GetDC(hwnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(hwnd, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(HINSTANCE instance) : instance_(instance) {}

Win32DialogWindow::~Win32DialogWindow() {
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void Win32DialogWindow::Run(MainDialog& dialog) {
  dialog_ = &dialog;
  windowThread_ = GetCurrentThreadId();
  // The folder browser and the shell's open verb want COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ids::kIcon), IMAGE_ICON,
                                        GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                        LR_DEFAULTCOLOR));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ids::kIcon), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(ids::kMainDialog), nullptr, &DialogProc,
                  reinterpret_cast<LPARAM>(this));
  hwnd_ = nullptr;
  if (SUCCEEDED(com)) CoUninitialize();
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->OnInit(hwnd);
    return TRUE;  // the dialog manager focuses the first control
  }
  auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->OnMessage(message, wParam, lParam);
}

void Win32DialogWindow::OnInit(HWND hwnd) {
  hwnd_ = hwnd;
  wchar_t about[256] = {};
  if (LoadStringW(instance_, ids::kAboutString, about, 256) > 0) {
    HMENU system = GetSystemMenu(hwnd, FALSE);
    if (system != nullptr) {
      AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(system, MF_STRING, ids::kSysAbout, about);
    }
  }
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));
  dialog_->OnInitDialog();
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kCarryCall:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == static_cast<WPARAM>(ids::kSysAbout)) {
        dialog_->OnSysCommand(static_cast<unsigned>(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      Close();
      return TRUE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      // One of the messages whose answer is the dialog procedure's own result.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_DESTROY:
      hwnd_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32DialogWindow::OnCommand(int id, int code, HWND control) {
  // Buttons and menu items; edit notifications and the like are not ours.
  if (code != BN_CLICKED) return;
  // A disabled button is not pressed by any user; a message that says so
  // anyway (a stale or synthesised click) must not start a pass.
  if (control != nullptr && !IsWindowEnabled(control)) return;
  if (id == IDCANCEL) {
    Close();  // Escape and "退出"
  } else {
    // Enter (IDOK), the hidden default button, "开始" and "结束" have no handler.
    dialog_->OnCommand(static_cast<unsigned>(id));
  }
  if (closePending_ && serving_ == 0) Close();
}

bool Win32DialogWindow::OnPaint() {
  HWND hwnd = hwnd_.load();
  if (!IsIconic(hwnd)) return false;
  // Where a system still paints minimised windows, the icon is the picture.
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd, &paint);
  return true;
}

void Win32DialogWindow::Close() {
  if (closing_) return;
  if (serving_ > 0) {
    closePending_ = true;
    return;
  }
  closing_ = true;
  // A running pass uses the dialog's members: it is stopped and waited for
  // (its window calls still served) before the window goes.
  dialog_->OnClose();
  EndDialog(hwnd_.load(), IDCANCEL);
}

void Win32DialogWindow::OnWindowThread(const std::function<void()>& call) {
  HWND hwnd = hwnd_.load();
  if (hwnd == nullptr || GetCurrentThreadId() == windowThread_.load()) {
    call();
    return;
  }
  SendMessageW(hwnd, kCarryCall, 0, reinterpret_cast<LPARAM>(&call));
}

void Win32DialogWindow::SetItemText(int id, const std::string& text) {
  OnWindowThread([&] { SetDlgItemTextW(hwnd_.load(), id, WidenText(text).c_str()); });
}

void Win32DialogWindow::EnableItem(int id, bool enabled) {
  OnWindowThread([&] {
    HWND item = Item(id);
    if (item == nullptr) return;
    // Focus on a control that goes grey would leave the keyboard nowhere.
    if (!enabled && GetFocus() == item) SendMessageW(hwnd_.load(), WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(item, enabled ? TRUE : FALSE);
  });
}

void Win32DialogWindow::SetProgressRange(int id, int low, int high) {
  OnWindowThread([&] { SendMessageW(Item(id), PBM_SETRANGE32, low, high); });
}

void Win32DialogWindow::SetProgressPos(int id, int position) {
  OnWindowThread([&] { SendMessageW(Item(id), PBM_SETPOS, position, 0); });
}

void Win32DialogWindow::DeleteAllListRows(int id) {
  OnWindowThread([&] { SendMessageW(Item(id), LVM_DELETEALLITEMS, 0, 0); });
}

void Win32DialogWindow::InsertListColumn(int id, int column, const std::string& title,
                                         int widthPixels) {
  OnWindowThread([&] {
    std::wstring text = WidenText(title);
    LVCOLUMNW col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = LVCFMT_LEFT;
    col.cx = MulDiv(widthPixels, static_cast<int>(WindowDpi(hwnd_.load())), 96);
    col.pszText = text.data();
    col.iSubItem = column;
    SendMessageW(Item(id), LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
  });
}

void Win32DialogWindow::SetListExtendedStyle(int id, std::uint32_t style) {
  // A mask of 0: every extended style bit is taken from `style`.
  OnWindowThread([&] { SendMessageW(Item(id), LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style); });
}

void Win32DialogWindow::InsertListRow(int id, int row, const std::string& firstColumn) {
  OnWindowThread([&] {
    std::wstring text = WidenText(firstColumn);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = text.data();
    SendMessageW(Item(id), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  });
}

void Win32DialogWindow::SetListCell(int id, int row, int column, const std::string& text) {
  OnWindowThread([&] {
    std::wstring wide = WidenText(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(Item(id), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  });
}

void Win32DialogWindow::MessageBox(const std::string& text, const std::string& caption) {
  OnWindowThread([&] {
    MessageBoxW(hwnd_.load(), WidenText(text).c_str(), WidenText(caption).c_str(), MB_OK);
  });
}

std::string Win32DialogWindow::ChooseFolder(const std::string& prompt) {
  std::string chosen;
  OnWindowThread([&] {
    std::wstring title = WidenText(prompt);
    BROWSEINFOW browse{};
    // Owned by the main window, which stays disabled while the browser is
    // open: no pass can start and the window cannot close behind it.
    browse.hwndOwner = hwnd_.load();
    browse.pidlRoot = nullptr;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
    if (item == nullptr) return;
    // Folders deeper than MAX_PATH have paths too.
    std::wstring path(32768, L'\0');
    if (SHGetPathFromIDListEx(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT) ||
        SHGetPathFromIDListW(item, path.data())) {
      path.resize(wcslen(path.c_str()));
      chosen = Narrow(path);
    }
    CoTaskMemFree(item);
  });
  return chosen;
}

int Win32DialogWindow::OpenDocument(const std::string& path) {
  int result = 0;
  OnWindowThread([&] {
    HINSTANCE r = ShellExecuteW(nullptr, L"open", WidenText(path).c_str(), nullptr, nullptr,
                                SW_SHOWMAXIMIZED);
    result = static_cast<int>(reinterpret_cast<INT_PTR>(r));
  });
  return result;
}

void Win32DialogWindow::ShowAbout() {
  OnWindowThread([&] { ShowAboutBox(instance_, hwnd_.load()); });
}

bool Win32DialogWindow::ShowOptions(RecoveryOptions& options) {
  bool confirmed = false;
  OnWindowThread([&] { confirmed = ShowOptionsBox(instance_, hwnd_.load(), options); });
  return confirmed;
}

void Win32DialogWindow::ServeUntil(const std::function<bool()>& done) {
  HWND hwnd = hwnd_.load();
  ++serving_;
  bool quit = false;
  int quitCode = 0;
  while (!done()) {
    MsgWaitForMultipleObjectsEx(0, nullptr, kServeTick, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(msg.wParam);
        continue;
      }
      // The user's clicks and keys on the main window wait with it; painting,
      // timers and the worker's calls go on.
      if (hwnd != nullptr && IsUserInput(msg.message) &&
          (msg.hwnd == hwnd || IsChild(hwnd, msg.hwnd))) {
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  --serving_;
  // Not ours to swallow: it is left for the loop that owns the thread.
  if (quit) PostQuitMessage(quitCode);
}

}  // namespace tessaro::win32
