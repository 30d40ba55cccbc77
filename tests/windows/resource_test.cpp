// The compiled window resources against the template tables every front end
// builds from: a control moved, restyled or retexted in one and not in the
// other fails here. The templates are read from this program's own module,
// which links the same compiled resource script as tessaro.exe.

#include <gtest/gtest.h>

#include "win_test_support.h"

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/texts.h"
#include "resources/dialog_templates.h"

namespace tessaro {
namespace {

namespace t = templates;
using wintest::U;

// One control of a compiled DLGTEMPLATEEX.
struct CompiledControl {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::wstring className;  // or "#<atom>"
  std::wstring text;       // or "#<ordinal>"
};

struct CompiledDialog {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::wstring menu, className, caption, font;
  int pointSize = 0;
  std::vector<CompiledControl> controls;
};

class Reader {
 public:
  Reader(const BYTE* data, std::size_t size) : data_(data), size_(size) {}
  template <typename T>
  T Take() {
    T value{};
    if (at_ + sizeof(T) <= size_) std::memcpy(&value, data_ + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }
  // A name or ordinal field: 0 (none), 0xFFFF + ordinal, or a string.
  std::wstring NameOrOrdinal() {
    WORD first = Take<WORD>();
    if (first == 0) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Take<WORD>());
    std::wstring s(1, static_cast<wchar_t>(first));
    while (WORD c = Take<WORD>()) s.push_back(static_cast<wchar_t>(c));
    return s;
  }
  std::wstring String() {
    std::wstring s;
    while (WORD c = Take<WORD>()) s.push_back(static_cast<wchar_t>(c));
    return s;
  }
  void AlignTo(std::size_t n) { at_ = (at_ + n - 1) / n * n; }
  bool Overrun() const { return at_ > size_; }

 private:
  const BYTE* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

const BYTE* Resource(int id, LPCWSTR type, std::size_t& size) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return nullptr;
  size = SizeofResource(nullptr, found);
  return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
}

bool ParseDialog(int id, CompiledDialog& out) {
  std::size_t size = 0;
  const BYTE* data = Resource(id, MAKEINTRESOURCEW(5), size);
  if (data == nullptr) return false;
  Reader r(data, size);
  if (r.Take<WORD>() != 1 || r.Take<WORD>() != 0xFFFF) return false;  // DLGTEMPLATEEX only
  r.Take<DWORD>();                                                     // help id
  out.exStyle = r.Take<DWORD>();
  out.style = r.Take<DWORD>();
  const WORD count = r.Take<WORD>();
  out.x = r.Take<short>();
  out.y = r.Take<short>();
  out.cx = r.Take<short>();
  out.cy = r.Take<short>();
  out.menu = r.NameOrOrdinal();
  out.className = r.NameOrOrdinal();
  out.caption = r.String();
  if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
    out.pointSize = r.Take<WORD>();
    r.Take<WORD>();  // weight
    r.Take<BYTE>();  // italic
    r.Take<BYTE>();  // charset
    out.font = r.String();
  }
  for (WORD i = 0; i < count; ++i) {
    r.AlignTo(4);
    CompiledControl c;
    r.Take<DWORD>();  // help id
    c.exStyle = r.Take<DWORD>();
    c.style = r.Take<DWORD>();
    c.x = r.Take<short>();
    c.y = r.Take<short>();
    c.cx = r.Take<short>();
    c.cy = r.Take<short>();
    c.id = static_cast<int>(r.Take<DWORD>());
    c.className = r.NameOrOrdinal();
    c.text = r.NameOrOrdinal();
    const WORD extra = r.Take<WORD>();
    for (WORD k = 0; k < extra; ++k) r.Take<BYTE>();
    out.controls.push_back(c);
  }
  return !r.Overrun();
}

// The kind the table would give a compiled control.
t::ControlKind KindOf(const CompiledControl& c) {
  // The system classes by atom or by name: the dialog manager takes both.
  std::wstring cls = c.className;
  if (_wcsicmp(cls.c_str(), L"Button") == 0) cls = L"#128";
  if (_wcsicmp(cls.c_str(), L"Edit") == 0) cls = L"#129";
  if (_wcsicmp(cls.c_str(), L"Static") == 0) cls = L"#130";
  if (cls == L"#128") {  // button
    const DWORD type = c.style & BS_TYPEMASK;
    if (type == BS_GROUPBOX) return t::ControlKind::GroupBox;
    if (type == BS_DEFPUSHBUTTON) return t::ControlKind::DefaultButton;
    if (type == BS_AUTOCHECKBOX) return t::ControlKind::CheckBox;
    if (type == BS_AUTORADIOBUTTON) return t::ControlKind::RadioButton;
    return t::ControlKind::Button;
  }
  if (cls == L"#129") return t::ControlKind::Edit;
  if (cls == L"#130") {
    return (c.style & SS_TYPEMASK) == SS_ICON ? t::ControlKind::Icon : t::ControlKind::Static;
  }
  if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) return t::ControlKind::Progress;
  if (_wcsicmp(cls.c_str(), WC_LISTVIEWW) == 0) return t::ControlKind::ListView;
  ADD_FAILURE() << "unknown control class " << U(cls);
  return t::ControlKind::Static;
}

// The table's style flags of a compiled control, read from its Windows styles.
std::uint32_t StyleOf(const CompiledControl& c, t::ControlKind kind) {
  std::uint32_t s = t::kNone;
  if (c.style & WS_BORDER) s |= t::kBorder;
  if (c.style & WS_DISABLED) s |= t::kDisabled;
  if (!(c.style & WS_VISIBLE)) s |= t::kHidden;
  if (c.style & WS_VSCROLL) s |= t::kVScroll;
  if (c.style & WS_TABSTOP) s |= t::kTabStop;
  if ((kind == t::ControlKind::CheckBox || kind == t::ControlKind::RadioButton) && (c.style & WS_GROUP)) {
    s |= t::kGroup;
  }
  switch (kind) {
    case t::ControlKind::Edit:
      if (c.style & ES_AUTOHSCROLL) s |= t::kAutoHScroll;
      if (c.style & ES_MULTILINE) s |= t::kMultiLine;
      break;
    case t::ControlKind::Progress:
      if (c.style & PBS_SMOOTH) s |= t::kSmooth;
      break;
    case t::ControlKind::ListView:
      if ((c.style & LVS_TYPEMASK) == LVS_REPORT) s |= t::kReport;
      break;
    case t::ControlKind::Static:
      if (c.style & SS_NOPREFIX) s |= t::kNoPrefix;
      break;
    default:
      break;
  }
  return s;
}

std::string Name(t::ControlKind kind) {
  switch (kind) {
    case t::ControlKind::Static: return "static";
    case t::ControlKind::Edit: return "edit";
    case t::ControlKind::Button: return "button";
    case t::ControlKind::DefaultButton: return "default button";
    case t::ControlKind::GroupBox: return "group box";
    case t::ControlKind::Progress: return "progress";
    case t::ControlKind::ListView: return "list view";
    case t::ControlKind::Icon: return "icon";
    case t::ControlKind::CheckBox: return "check box";
    case t::ControlKind::RadioButton: return "radio button";
  }
  return "?";
}

void ExpectSameDialog(const t::Dialog& table, const CompiledDialog& compiled) {
  EXPECT_EQ(U(compiled.caption), table.caption);
  EXPECT_EQ(compiled.cx, table.width);
  EXPECT_EQ(compiled.cy, table.height);
  EXPECT_EQ(U(compiled.font), table.font);
  EXPECT_EQ(compiled.pointSize, table.pointSize);
  EXPECT_EQ(compiled.menu, table.menu == 0 ? L"" : L"#" + std::to_wstring(table.menu));
  ASSERT_EQ(static_cast<int>(compiled.controls.size()), table.controlCount);
  for (int i = 0; i < table.controlCount; ++i) {
    const t::Control& want = table.controls[i];
    const CompiledControl& got = compiled.controls[static_cast<std::size_t>(i)];
    SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ", \"" +
                 want.text + "\")");
    EXPECT_EQ(got.id, want.id);
    const t::ControlKind kind = KindOf(got);
    EXPECT_EQ(Name(kind), Name(want.kind));
    EXPECT_EQ(StyleOf(got, kind), want.style);
    EXPECT_EQ((got.style & (WS_CHILD | WS_POPUP)), static_cast<DWORD>(WS_CHILD));
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.width);
    EXPECT_EQ(got.cy, want.height);
    if (kind == t::ControlKind::Icon) {
      EXPECT_EQ(U(got.text), std::string("#") + want.text);
    } else {
      EXPECT_EQ(U(got.text), want.text);
    }
  }
}

TEST(WindowResourceTest, MainTemplateIsTheTableControlByControl) {
  CompiledDialog dialog;
  ASSERT_TRUE(ParseDialog(ids::kMainDialog, dialog));
  ExpectSameDialog(t::kMainDialog, dialog);
  // A popup with caption, system menu and minimise box, modal frame, shown
  // on the task bar; neither a maximise box nor a sizing border.
  for (DWORD bit : {DWORD(WS_POPUP), DWORD(WS_VISIBLE), DWORD(WS_CAPTION), DWORD(WS_SYSMENU),
                    DWORD(WS_MINIMIZEBOX), DWORD(DS_MODALFRAME)}) {
    EXPECT_TRUE(dialog.style & bit) << std::hex << bit;
  }
  EXPECT_FALSE(dialog.style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(dialog.exStyle & WS_EX_APPWINDOW);
}

TEST(WindowResourceTest, AboutTemplateIsTheTable) {
  CompiledDialog dialog;
  ASSERT_TRUE(ParseDialog(ids::kAboutDialog, dialog));
  ExpectSameDialog(t::kAboutDialog, dialog);
  EXPECT_TRUE(dialog.style & WS_CAPTION);
  EXPECT_TRUE(dialog.style & WS_SYSMENU);
  EXPECT_FALSE(dialog.style & WS_VISIBLE);
}

TEST(WindowResourceTest, OptionsTemplateIsTheTable) {
  CompiledDialog dialog;
  ASSERT_TRUE(ParseDialog(ids::kOptionsDialog, dialog));
  ExpectSameDialog(t::kOptionsDialog, dialog);
  EXPECT_TRUE(dialog.style & WS_CAPTION);
  EXPECT_FALSE(dialog.style & WS_VISIBLE);
}

TEST(WindowResourceTest, MenuIsTheTableWithTheTopLevelSeparator) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ids::kMenu));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  for (int top = 0; top < 3; ++top) {
    SCOPED_TRACE("top-level item " + std::to_string(top));
    wchar_t title[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(top), title, 64, MF_BYPOSITION);
    EXPECT_EQ(U(title), t::kMenuTitles[top]);
    HMENU sub = GetSubMenu(menu, top);
    std::vector<const t::MenuItem*> want;
    for (const t::MenuItem& item : t::kMenuItems) {
      if (item.menu == top) want.push_back(&item);
    }
    if (want.empty()) {
      EXPECT_EQ(sub, nullptr);
      EXPECT_EQ(GetMenuItemID(menu, top), 0u);
      continue;
    }
    ASSERT_NE(sub, nullptr);
    ASSERT_EQ(GetMenuItemCount(sub), static_cast<int>(want.size()));
    for (std::size_t i = 0; i < want.size(); ++i) {
      MENUITEMINFOW info{};
      wchar_t text[64] = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
      info.dwTypeData = text;
      info.cch = 64;
      ASSERT_TRUE(GetMenuItemInfoW(sub, static_cast<UINT>(i), TRUE, &info));
      if (want[i]->id == 0) {
        EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i;
      } else {
        EXPECT_EQ(static_cast<int>(info.wID), want[i]->id);
        EXPECT_EQ(U(text), want[i]->text);
      }
    }
  }
  DestroyMenu(menu);
}

TEST(WindowResourceTest, StringIconAndManifestArePresent) {
  wchar_t text[128] = {};
  ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), ids::kAboutString, text, 128), 0);
  EXPECT_EQ(U(text), t::kAboutString);
  EXPECT_EQ(U(text), texts::kAboutMenuItem);

  HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ids::kIcon), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon != nullptr) DestroyIcon(icon);

  std::size_t size = 0;
  const BYTE* manifest = Resource(1, MAKEINTRESOURCEW(24), size);
  ASSERT_NE(manifest, nullptr);
  const std::string xml(reinterpret_cast<const char*>(manifest), size);
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(xml.find("PerMonitorV2"), std::string::npos);
  EXPECT_NE(xml.find(">UTF-8</activeCodePage>"), std::string::npos);
}

}  // namespace
}  // namespace tessaro
