// The options box sets its buttons from the options at the start and reads
// them back on "确定"; "取消", Escape and the close box leave them as they were.

#include "win32/options_box.h"


#include "app/control_ids.h"

namespace tessaro::win32 {

namespace {

void Check(HWND box, int id, bool on) { CheckDlgButton(box, id, on ? BST_CHECKED : BST_UNCHECKED); }
bool Checked(HWND box, int id) { return IsDlgButtonChecked(box, id) == BST_CHECKED; }

INT_PTR CALLBACK OptionsProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* options = reinterpret_cast<RecoveryOptions*>(GetWindowLongPtrW(box, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      options = reinterpret_cast<RecoveryOptions*>(lParam);
      SetWindowLongPtrW(box, DWLP_USER, lParam);
      Check(box, ids::kOptionTrim, options->trim);
      Check(box, ids::kOptionSplit, options->split);
      Check(box, ids::kOptionSortByKind, options->sortByKind);
      Check(box, ids::kOptionReport, options->report);
      Check(box, ids::kOptionRescue, options->rescue);
      for (int k = 0; k < 3; ++k) Check(box, ids::kOptionNames[k], static_cast<int>(options->names) == k);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        options->trim = Checked(box, ids::kOptionTrim);
        options->split = Checked(box, ids::kOptionSplit);
        options->sortByKind = Checked(box, ids::kOptionSortByKind);
        options->report = Checked(box, ids::kOptionReport);
        options->rescue = Checked(box, ids::kOptionRescue);
        for (int k = 0; k < 3; ++k) {
          if (Checked(box, ids::kOptionNames[k])) options->names = static_cast<RecoveryOptions::Names>(k);
        }
        EndDialog(box, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(box, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool ShowOptionsBox(HINSTANCE instance, HWND owner, RecoveryOptions& options) {
  RecoveryOptions chosen = options;
  if (DialogBoxParamW(instance, MAKEINTRESOURCEW(ids::kOptionsDialog), owner, &OptionsProc,
                      reinterpret_cast<LPARAM>(&chosen)) != IDOK) {
    return false;
  }
  options = chosen;
  return true;
}

}  // namespace tessaro::win32
