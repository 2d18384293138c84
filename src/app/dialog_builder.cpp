#include "app/dialog_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "app/controls.h"

namespace velmora {

namespace {
constexpr const char* kIdProperty = "controlId";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Caption without the mnemonic marker, for screen readers.
QString AccessibleText(const char* utf8) {
  QString s = Text(utf8);
  s.remove(QLatin1Char('&'));
  return s.simplified();
}

QWidget* MakeControl(const res::Control& c, QWidget* host, const DialogUnits& du) {
  using res::Kind;
  QWidget* w = nullptr;
  switch (c.kind) {
    case Kind::GroupBox:
      w = new QGroupBox(Text(c.caption), host);
      break;
    case Kind::Label: {
      auto* l = new QLabel(Text(c.caption), host);
      if (c.style & res::kCentered) l->setAlignment(Qt::AlignCenter);
      w = l;
      break;
    }
    case Kind::PushButton:
      w = new QPushButton(Text(c.caption), host);
      static_cast<QPushButton*>(w)->setAutoDefault(false);
      break;
    case Kind::CheckBox:
      w = new QCheckBox(Text(c.caption), host);
      break;
    case Kind::Edit: {
      auto* e = new LineEdit(host);
      e->SetDigitsOnly(c.style & res::kDigitsOnly, c.style & res::kDecimal);
      e->SetByteLimit(c.text_limit);
      w = e;
      break;
    }
    case Kind::ComboBox: {
      auto* cb = new QComboBox(host);
      cb->setEditable(true);
      cb->setInsertPolicy(QComboBox::NoInsert);
      cb->setCompleter(nullptr);
      for (const char* item : c.items) cb->addItem(Text(item));
      cb->setCurrentIndex(-1);
      cb->setEditText(QString());
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
  QRect r = du.Rect(c.x, c.y, c.w, c.h);
  if (c.kind == Kind::ComboBox) {
    // The layout height includes the dropped-down list; the closed box is one line.
    r.setHeight(std::max(du.Y(14), w->sizeHint().height()));
  }
  w->setGeometry(r);
  return w;
}

// The label drawn left of an edit, list or address box, right-aligned against it.
QLabel* MakeSideLabel(const res::Control& c, QWidget* host, const DialogUnits& du) {
  auto* l = new QLabel(Text(c.caption), host);
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  const QRect box = du.Rect(c.x, c.y, c.w, 14);
  const int width = l->sizeHint().width();
  const int gap = du.X(3);
  l->setGeometry(box.left() - gap - width, box.top(), width, box.height());
  return l;
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
  const QFont font = DialogFont(dialog.point_size);
  host->setFont(font);
  const DialogUnits du = DialogUnits::ForFont(font);
  if (dialog.title && *dialog.title) host->setWindowTitle(Text(dialog.title));
  host->resize(du.X(dialog.w), du.Y(dialog.h));

  ControlMap map;
  std::vector<std::pair<QWidget*, const res::Control*>> built;
  for (const res::Control& c : dialog.controls) {
    QWidget* w = MakeControl(c, host, du);
    const bool side_label = (c.kind == res::Kind::Edit || c.kind == res::Kind::ComboBox ||
                             c.kind == res::Kind::IpAddress) && c.caption && *c.caption;
    if (side_label) MakeSideLabel(c, host, du)->setBuddy(w);
    if (c.caption && *c.caption) w->setAccessibleName(AccessibleText(c.caption));
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
      w->setAccessibleName(label->text().remove(QLatin1Char(':')));
    }
  }
  // Group boxes are drawn first in the layout; keep the controls above their frames.
  for (const auto& [w, c] : built) {
    if (c->kind == res::Kind::GroupBox) w->lower();
  }
  return map;
}

int ControlId(const QWidget* w) {
  const QVariant v = w->property(kIdProperty);
  return v.isValid() ? v.toInt() : res::kNoId;
}

QWidget* FindControl(const QWidget* root, int id) {
  const auto children = root->findChildren<QWidget*>();
  for (QWidget* w : children) {
    if (ControlId(w) == id) return w;
  }
  return nullptr;
}

void ConnectClick(QAbstractButton* button, QObject* context, std::function<void()> handler) {
  QObject::connect(button, &QAbstractButton::clicked, context, [h = std::move(handler)] { h(); });
}

}  // namespace velmora
