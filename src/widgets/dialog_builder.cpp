#include "widgets/dialog_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <algorithm>

#include "widgets/accessibility.h"
#include "widgets/controls.h"
#include "widgets/translation.h"

namespace velmora {

namespace {
constexpr const char* kIdProperty = "controlId";

QWidget* MakeControl(const res::Control& c, QWidget* host, const DialogUnits& du) {
  using res::Kind;
  QWidget* w = nullptr;
  switch (c.kind) {
    case Kind::GroupBox:
      w = new QGroupBox(host);
      SetCaption(w, kLayoutContext, c.caption);
      // The frame line runs through the middle of the title, so the first row of
      // controls, placed for that, clears the frame.
      w->setStyleSheet(QStringLiteral(
          "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.55em; }"
          "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }"));
      break;
    case Kind::Label: {
      auto* l = new QLabel(host);
      SetCaption(l, kLayoutContext, c.caption);
      if (c.style & res::kCentered) {
        l->setAlignment(Qt::AlignCenter);
        l->setProperty("centred", true);  // keeps its box: the text is placed inside it
      }
      w = l;
      break;
    }
    case Kind::PushButton:
      w = new QPushButton(host);
      SetCaption(w, kLayoutContext, c.caption);
      static_cast<QPushButton*>(w)->setAutoDefault(false);
      break;
    case Kind::CheckBox:
      w = new QCheckBox(host);
      SetCaption(w, kLayoutContext, c.caption);
      break;
    case Kind::Edit: {
      auto* e = new LineEdit(host);
      e->SetDigitsOnly(c.style & res::kDigitsOnly, c.style & res::kDecimal);
      e->SetByteLimit(c.text_limit);
      w = e;
      break;
    }
    case Kind::ComboBox: {
      auto* cb = new ComboBox(host);
      const bool editable = !(c.style & res::kListOnly);
      cb->setEditable(editable);
      cb->setInsertPolicy(QComboBox::NoInsert);
      if (editable) cb->setCompleter(nullptr);
      SetItems(cb, kLayoutContext, c.items);
      cb->setCurrentIndex(-1);
      if (editable) cb->setEditText(QString());
      w = cb;
      break;
    }
    case Kind::IpAddress:
      w = new IpAddressEdit(host);
      break;
    case Kind::ProgressBar: {
      auto* p = new QProgressBar(host);
      p->setTextVisible(false);
      w = p;
      break;
    }
    case Kind::ReportList: {
      auto* t = new QTableWidget(host);
      t->setSelectionBehavior(QAbstractItemView::SelectRows);
      t->setShowGrid(true);
      t->setTabKeyNavigation(false);  // Tab leaves the list; the arrows move in it
      w = t;
      break;
    }
    case Kind::RichEdit:
      w = new QPlainTextEdit(host);
      break;
    case Kind::TabControl: {
      auto* t = new QTabWidget(host);
      w = t;
      break;
    }
    case Kind::Icon: {
      auto* l = new QLabel(host);
      l->setPixmap(QApplication::windowIcon().pixmap(du.X(c.w), du.Y(c.h)));
      w = l;
      break;
    }
  }
  return w;
}

// Where a control goes; its side label is right-aligned against the control's left edge.
struct Placement {
  QPointer<QWidget> widget;
  res::Kind kind;
  int x, y, w, h;
  bool side_label;
};

void Place(const Placement& p, const DialogUnits& du) {
  if (!p.widget) return;
  if (p.side_label) {
    const QRect box = du.Rect(p.x, p.y, p.w, 14);
    const int width = p.widget->sizeHint().width();
    p.widget->setGeometry(box.left() - du.X(3) - width, box.top(), width, box.height());
    return;
  }
  QRect r = du.Rect(p.x, p.y, p.w, p.h);
  if (p.kind == res::Kind::ComboBox) {
    // The layout height includes the dropped-down list; the closed box is one line.
    r.setHeight(std::max(du.Y(14), p.widget->sizeHint().height()));
  }
  if (p.kind == res::Kind::CheckBox || (p.kind == res::Kind::Label && !p.widget->property("centred").toBool())) {
    // The caption takes more room in some fonts and languages than the layout allows: a
    // label or a check box grows rather than cutting its text, to the right, except a
    // label naming the control on its right, which grows to the left.
    const int need = p.widget->sizeHint().width();
    const auto* label = qobject_cast<const QLabel*>(p.widget.data());
    if (need > r.width() && label && label->buddy()) {
      r.setLeft(r.left() + r.width() - need);
    } else {
      r.setWidth(std::max(r.width(), need));
    }
  }
  p.widget->setGeometry(r);
}

// A host given less room than its controls need (a page in a tab control whose font is
// wider than the one the layout was drawn for) lays them out again with smaller units,
// so nothing is cut off at the right or bottom edge.
class DialogFitter : public QObject {
 public:
  DialogFitter(QWidget* host, const DialogUnits& du) : QObject(host), host_(host), natural_(du), current_(du) {
    host->installEventFilter(this);
    // Texts change length with the language; labels and boxes take their new room.
    OnLanguageChange(host, [this] { PlaceAgain(); });
  }
  void Add(Placement p) {
    right_ = std::max(right_, p.x + p.w);
    bottom_ = std::max(bottom_, p.y + (p.side_label || p.kind == res::Kind::ComboBox ? 14 : p.h));
    Place(p, current_);
    placements_.push_back(std::move(p));
  }
  void PlaceAgain() {
    for (const Placement& p : placements_) Place(p, current_);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == host_ && event->type() == QEvent::Resize) Fit();
    return false;
  }

 private:
  void Fit() {
    DialogUnits du = natural_;
    while (du.base_x > 1 && du.X(right_) > host_->width()) --du.base_x;
    while (du.base_y > 1 && du.Y(bottom_) > host_->height()) --du.base_y;
    if (du.base_x == current_.base_x && du.base_y == current_.base_y) return;
    current_ = du;
    for (const Placement& p : placements_) Place(p, du);
  }

  QWidget* host_;
  const DialogUnits natural_;
  DialogUnits current_;
  int right_ = 0;
  int bottom_ = 0;
  std::vector<Placement> placements_;
};

bool TakesFocus(res::Kind kind) {
  using res::Kind;
  switch (kind) {
    case Kind::PushButton: case Kind::CheckBox: case Kind::Edit: case Kind::ComboBox: case Kind::IpAddress:
    case Kind::ReportList: case Kind::RichEdit: case Kind::TabControl:
      return true;
    default:
      return false;
  }
}

// Tab follows what the engineer reads, whatever order the layout lists its controls in:
// group box by group box from the top (from the left where two sit side by side), a
// control outside every box reading as a group of its own; within a group row by row
// from the top, each row left to right. A row takes the controls whose centre lies within
// the height of its topmost control, so a check box beside a taller edit joins its row.
void SetReadingTabOrder(QWidget* host, const std::vector<std::pair<QWidget*, const res::Control*>>& built) {
  struct Stop {
    QWidget* widget;
    QRect group;
    QRect box;
  };
  std::vector<QRect> groups;
  for (const auto& [w, c] : built) {
    if (c->kind == res::Kind::GroupBox) groups.emplace_back(c->x, c->y, c->w, c->h);
  }
  std::vector<Stop> stops;
  for (const auto& [w, c] : built) {
    if (!TakesFocus(c->kind)) continue;
    // A closed list is one line high; the layout's height includes the dropped-down list.
    const QRect box(c->x, c->y, c->w, c->kind == res::Kind::ComboBox ? 14 : c->h);
    const auto in =
        std::find_if(groups.begin(), groups.end(), [&](const QRect& g) { return g.contains(box.center()); });
    stops.push_back({w, in != groups.end() ? *in : box, box});
  }
  auto before = [](const QRect& a, const QRect& b) {
    return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
  };
  std::stable_sort(stops.begin(), stops.end(), [&](const Stop& a, const Stop& b) {
    if (a.group != b.group) return before(a.group, b.group);
    return a.box.center().y() < b.box.center().y();
  });
  for (auto row = stops.begin(); row != stops.end();) {
    auto end = std::find_if(row, stops.end(), [&](const Stop& s) {
      return s.group != row->group || s.box.center().y() > row->box.bottom();
    });
    std::stable_sort(row, end, [](const Stop& a, const Stop& b) { return a.box.left() < b.box.left(); });
    row = end;
  }
  // Qt leaves a control where it is when it already follows the one before it, counting
  // round the chain through the host. The host takes part as a stop meanwhile, so the
  // chain starts at it and keeps its order when the host is placed in another window.
  const Qt::FocusPolicy policy = host->focusPolicy();
  host->setFocusPolicy(Qt::TabFocus);
  for (std::size_t i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1].widget, stops[i].widget);
  host->setFocusPolicy(policy);
}
}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
  const QFontMetrics fm(font);
  const int avg = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) + 26) / 52;
  return DialogUnits{std::max(1, avg), std::max(1, fm.height())};
}

QFont DialogFont(int point_size) {
  QFont f = QApplication::font();
  f.setPointSize(point_size);
  return f;
}

QWidget* ControlMap::Get(int id) const {
  const auto it = by_id_.find(id);
  Q_ASSERT_X(it != by_id_.end(), "ControlMap::Get", "unknown control id");
  return it == by_id_.end() ? nullptr : it->second;
}
QAbstractButton* ControlMap::Button(int id) const { return As<QAbstractButton>(id); }
QComboBox* ControlMap::Combo(int id) const { return As<QComboBox>(id); }
LineEdit* ControlMap::Edit(int id) const { return As<LineEdit>(id); }
IpAddressEdit* ControlMap::Ip(int id) const { return As<IpAddressEdit>(id); }
QLabel* ControlMap::Label(int id) const { return As<QLabel>(id); }

ControlMap BuildDialog(const res::Dialog& dialog, QWidget* host) {
  InstallAccessibility();
  const QFont font = DialogFont(dialog.point_size);
  host->setFont(font);
  const DialogUnits du = DialogUnits::ForFont(font);
  if (dialog.title && *dialog.title) SetCaption(host, kLayoutContext, dialog.title);
  host->resize(du.X(dialog.w), du.Y(dialog.h));

  ControlMap map;
  auto* fitter = new DialogFitter(host, du);
  std::vector<std::pair<QWidget*, const res::Control*>> built;
  for (const res::Control& c : dialog.controls) {
    QWidget* w = MakeControl(c, host, du);
    fitter->Add({w, c.kind, c.x, c.y, c.w, c.h, false});
    const bool side_label = (c.kind == res::Kind::Edit || c.kind == res::Kind::ComboBox ||
                             c.kind == res::Kind::IpAddress) && c.caption && *c.caption;
    if (side_label) {
      auto* label = new QLabel(host);
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      label->setBuddy(w);
      SetCaption(label, kLayoutContext, c.caption);
      fitter->Add({label, res::Kind::Label, c.x, c.y, c.w, c.h, true});
    }
    // Buttons, boxes and labels are named by their own text, which Qt follows when it
    // changes; a control with a side label is named by the label (its buddy).
    if (c.id != res::kNoId) {
      w->setProperty(kIdProperty, c.id);
      w->setObjectName(QStringLiteral("idc_%1").arg(c.id));
      map.Add(c.id, w);
    }
    built.emplace_back(w, &c);
  }
  // Controls named by a separate label (whose text may change later) take its text.
  for (const auto& [w, c] : built) {
    if (c->label_id != res::kNoId && map.Has(c->label_id)) {
      auto* label = map.Label(c->label_id);
      label->setBuddy(w);
      NameControl(w, LabelName(label->text()));
    }
  }
  fitter->PlaceAgain();  // labels that name a control know it now
  // Group boxes are drawn first in the layout; keep the controls above their frames.
  for (const auto& [w, c] : built) {
    if (c->kind == res::Kind::GroupBox) w->lower();
  }
  SetReadingTabOrder(host, built);
  return map;
}

int ControlId(const QWidget* w) {
  const QVariant v = w->property(kIdProperty);
  return v.isValid() ? v.toInt() : res::kNoId;
}

QWidget* FindControl(const QWidget* root, int id) {
  // Nearest first: the pages inside a window reuse ids the window itself has (1005).
  QList<QWidget*> level = root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  while (!level.isEmpty()) {
    QList<QWidget*> next;
    for (QWidget* w : level) {
      if (ControlId(w) == id) return w;
      next += w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    }
    level = std::move(next);
  }
  return nullptr;
}

void ConnectClick(QAbstractButton* button, QObject* context, std::function<void()> handler) {
  QObject::connect(button, &QAbstractButton::clicked, context, [h = std::move(handler)] { h(); });
}

}  // namespace velmora
