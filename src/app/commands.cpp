// The command table of the main window: what each button and menu item does.
// Every front end hands its clicks and menu choices here by control id, so
// the windows cannot come to disagree on what a control does.

#include "app/control_ids.h"
#include "app/main_dialog.h"

namespace tessaro {

bool MainDialog::OnCommand(unsigned id) {
  switch (static_cast<int>(id)) {
    case ids::kChooseSource: OnChooseSource(); return true;
    case ids::kChooseDest: OnChooseDest(); return true;
    case ids::kDetect: OnDetect(); return true;
    case ids::kStopDetect: OnStopDetect(); return true;
    case ids::kRecover: OnRecover(); return true;
    case ids::kStopRecover: OnStopRecover(); return true;
    case ids::kHelpContents: OnHelpContents(); return true;
    case ids::kAbout: OnAbout(); return true;
    case ids::kMenuStart: OnMenuStart(); return true;
    case ids::kMenuEnd: OnMenuEnd(); return true;
    case ids::kOptions: OnOptions(); return true;
    // The hidden default button and anything else: no handler.
    default: return false;
  }
}

}  // namespace tessaro
