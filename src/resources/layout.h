#pragma once
// Dialog layouts as data: every control with its numeric id, kind, caption, rectangle in
// dialog units, list items, text limit and style. The builder turns them into widgets.

#include <initializer_list>
#include <vector>

#include <QtGlobal>

namespace velmora::res {

inline constexpr int kNoId = -1;

enum class Kind {
  GroupBox,
  Label,
  PushButton,
  CheckBox,
  Edit,        // single-line edit; caption is the label drawn to its left
  ComboBox,    // drop-down with an editable field, unsorted; caption is its label
  IpAddress,   // four dotted octets; caption is its label
  ProgressBar,
  ReportList,  // list in report view (columns set by its dialog)
  RichEdit,    // multi-line log text
  TabControl,
  Icon,
};

enum Style : unsigned {
  kNoStyle = 0,
  kDigitsOnly = 1u << 0,   // typed characters other than digits are refused
  kDecimal = 1u << 1,      // with kDigitsOnly: a decimal point may be typed too
  kCentered = 1u << 2,     // text centred
  kLabelOnRight = 1u << 3, // label text right-aligned against its control
  kListOnly = 1u << 4,     // a list without an edit field: only its items can be chosen
};

struct Control {
  int id = kNoId;
  Kind kind = Kind::Label;
  const char* caption = "";  // UTF-8
  int x = 0, y = 0, w = 0, h = 0;
  std::vector<const char*> items = {};
  int text_limit = 0;   // in GBK bytes; 0 = none
  unsigned style = kNoStyle;
  int label_id = kNoId; // a separate label control that names this one
};

struct Dialog {
  int id = 0;
  const char* title = "";
  int w = 0, h = 0;
  int point_size = 8;
  std::vector<Control> controls;
};

struct MenuItem {
  int command = 0;
  const char* text = "";
};

// Main window (102), About box (100), Log pane menu (131) and the strings they use.
const Dialog& MainDialog();
const Dialog& AboutDialog();
const std::vector<MenuItem>& LogMenu();  // popup "Option"
inline constexpr int kCmdCopy = 32771;
inline constexpr int kCmdClear = 32772;
inline constexpr int kCmdSelectAll = 32773;
inline constexpr int kCmdFind = 32774;
inline constexpr int kCmdSaveAs = 32775;
inline constexpr int kCmdSessionLog = 32776;  // a check item
inline constexpr const char* kAboutMenuText = QT_TRANSLATE_NOOP("Layout", "关于 Morvane(&A)...");
inline constexpr const char* kLogMenuTitle = "Option";

}  // namespace velmora::res
