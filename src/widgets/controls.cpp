#include "widgets/controls.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QToolTip>

#include <algorithm>

#include "protocol/gbk.h"

namespace velmora {

LineEdit::LineEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textEdited, this, [this] { EnforceLimit(); });
}

void LineEdit::SetDigitsOnly(bool on, bool allow_decimal_point) {
  digits_ = on;
  decimal_ = allow_decimal_point;
}

void LineEdit::SetByteLimit(int bytes) { byte_limit_ = bytes; }

void LineEdit::keyPressEvent(QKeyEvent* event) {
  if (digits_ && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    for (const QChar c : event->text()) {
      if (c.isPrint() && !(c >= u'0' && c <= u'9') && !(decimal_ && c == u'.')) {
        event->accept();  // refused, as a digits-only box does
        return;
      }
    }
  }
  QLineEdit::keyPressEvent(event);
}

void LineEdit::EnforceLimit() {
  if (byte_limit_ <= 0) return;
  const QString t = text();
  if (GbkLength(t) <= static_cast<std::size_t>(byte_limit_)) return;
  const int cursor = cursorPosition();
  const QString cut = TruncateToGbkBytes(t, static_cast<std::size_t>(byte_limit_));
  setText(cut);
  setCursorPosition(std::min(cursor, static_cast<int>(cut.size())));
}

namespace {
bool AllDigits(const QString& s) {
  return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}
}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  setFocusPolicy(Qt::StrongFocus);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    auto* f = new QLineEdit(this);
    f->setFrame(false);
    f->setAlignment(Qt::AlignCenter);
    f->setMaxLength(3);
    f->installEventFilter(this);
    connect(f, &QLineEdit::textEdited, this, [this, i](const QString& t) {
      if (t.size() == 3 && i + 1 < fields_.size()) {
        MoveTo(i + 1, true);
        just_advanced_ = true;
      }
    });
    connect(f, &QLineEdit::textChanged, this, &IpAddressEdit::textChanged);
    fields_[i] = f;
  }
  for (auto& d : dots_) {
    auto* l = new QLabel(QStringLiteral("."), this);
    l->setAlignment(Qt::AlignCenter);
    d = l;
  }
  setFocusProxy(fields_[0]);
  SetAccessibleLabel(QString());
}

void IpAddressEdit::SetAccessibleLabel(const QString& name) {
  setAccessibleName(name);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const QString part = QStringLiteral("%1/4").arg(i + 1);
    fields_[i]->setAccessibleName(name.isEmpty() ? part : name + QLatin1Char(' ') + part);
  }
}

QString IpAddressEdit::text() const {
  const auto o = Octets();
  return QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]);
}

std::array<uint8_t, 4> IpAddressEdit::Octets() const {
  std::array<uint8_t, 4> o{};
  for (std::size_t i = 0; i < 4; ++i) o[i] = static_cast<uint8_t>(std::clamp(fields_[i]->text().toInt(), 0, 255));
  return o;
}

void IpAddressEdit::SetOctets(const std::array<uint8_t, 4>& octets) {
  for (std::size_t i = 0; i < 4; ++i) fields_[i]->setText(QString::number(octets[i]));
}

void IpAddressEdit::setText(const QString& dotted) {
  const QStringList parts = dotted.split(u'.');
  for (std::size_t i = 0; i < 4; ++i) {
    bool ok = false;
    const int v = i < static_cast<std::size_t>(parts.size()) ? parts[static_cast<qsizetype>(i)].trimmed().toInt(&ok) : 0;
    fields_[i]->setText(ok && v >= 0 && v <= 255 ? QString::number(v) : QString());
  }
}

void IpAddressEdit::Clear() {
  for (auto* f : fields_) f->clear();
}

void IpAddressEdit::MoveTo(std::size_t i, bool select) {
  fields_[i]->setFocus();
  if (select) {
    fields_[i]->selectAll();
  } else {
    fields_[i]->deselect();
  }
}

void IpAddressEdit::SelectWhole() {
  for (auto* f : fields_) f->selectAll();
  whole_selected_ = true;
}

void IpAddressEdit::Refuse(std::size_t i, const QString& why) {
  refusal_ = why;
  QLineEdit* f = fields_[i];
  QToolTip::showText(f->mapToGlobal(QPoint(0, f->height())), why, f);
}

bool IpAddressEdit::Insert(std::size_t i, const QString& typed) {
  const QString text = typed.trimmed();
  if (text.contains(u'.')) {
    // A whole address, typed at once by an input method or pasted: all four fields or none.
    const QStringList parts = text.split(u'.');
    bool ok = parts.size() == 4;
    for (const QString& p : parts) ok = ok && !p.isEmpty() && p.size() <= 3 && AllDigits(p) && p.toInt() <= 255;
    if (!ok) {
      Refuse(i, tr("不是IP地址: %1").arg(text));
      return false;
    }
    setText(text);
    MoveTo(3, false);
    fields_[3]->end(false);
    return true;
  }
  if (!AllDigits(text)) return false;
  QLineEdit* f = fields_[i];
  QString next = f->text();
  int at = f->cursorPosition();
  if (f->hasSelectedText()) {
    at = f->selectionStart();
    next.remove(at, f->selectedText().size());
  }
  next.insert(at, text);
  if (next.size() > 3 || next.toInt() > 255) {
    Refuse(i, tr("每段取值为 0 到 255"));
    return false;
  }
  refusal_.clear();
  f->setText(next);
  f->setCursorPosition(at + static_cast<int>(text.size()));
  emit f->textEdited(next);  // moves on after the third digit, as typing does
  return true;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  auto* f = qobject_cast<QLineEdit*>(watched);
  const auto it = std::find(fields_.begin(), fields_.end(), f);
  if (it == fields_.end()) return QFrame::eventFilter(watched, event);
  const auto i = static_cast<std::size_t>(it - fields_.begin());
  if (event->type() == QEvent::MouseButtonPress) {
    whole_selected_ = false;
    just_advanced_ = false;
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control || key->key() == Qt::Key_Alt ||
      key->key() == Qt::Key_Meta) {
    return false;
  }
  const bool whole = whole_selected_;
  const bool advanced = just_advanced_;
  whole_selected_ = false;
  just_advanced_ = false;

  if (key->matches(QKeySequence::SelectAll)) {
    SelectWhole();
    return true;
  }
  if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut)) {
    // The dotted address, unless the engineer picked part of one field.
    const bool part = !whole && f->hasSelectedText();
    QGuiApplication::clipboard()->setText(part ? f->selectedText() : text());
    if (key->matches(QKeySequence::Cut)) {
      if (part) {
        f->del();
      } else if (whole) {
        Clear();
        MoveTo(0, false);
      }
    }
    if (whole && !key->matches(QKeySequence::Cut)) SelectWhole();
    return true;
  }
  if (key->matches(QKeySequence::Paste)) {
    const QString pasted = QGuiApplication::clipboard()->text();
    if (whole && !pasted.contains(u'.')) {
      Clear();
      Insert(0, pasted);
    } else {
      Insert(i, pasted);
    }
    return true;
  }
  if (whole && (key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete)) {
    Clear();
    MoveTo(0, false);
    return true;
  }
  const QString t = key->text();
  const bool typed = !t.isEmpty() && t[0].isPrint() && !(key->modifiers() & Qt::ControlModifier);
  if (key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) {
    if (!advanced && i + 1 < 4 && !f->text().isEmpty()) MoveTo(i + 1, true);
    return true;
  }
  if (typed) {
    if (whole && !t.contains(u'.')) {
      Clear();
      MoveTo(0, false);
      Insert(0, t);
      return true;
    }
    Insert(whole ? 0 : i, t);
    return true;
  }
  if (key->key() == Qt::Key_Backspace && i > 0 && f->cursorPosition() == 0 && !f->hasSelectedText()) {
    // One text to the engineer: backspace at a field's start takes the previous digit.
    QLineEdit* prev = fields_[i - 1];
    MoveTo(i - 1, false);
    prev->end(false);
    prev->backspace();
    return true;
  }
  if (key->key() == Qt::Key_Left && f->cursorPosition() == 0 && !f->hasSelectedText() && i > 0) {
    MoveTo(i - 1, false);
    fields_[i - 1]->end(false);
    return true;
  }
  if (key->key() == Qt::Key_Right && f->cursorPosition() == f->text().size() && i + 1 < 4) {
    MoveTo(i + 1, false);
    fields_[i + 1]->setCursorPosition(0);
    return true;
  }
  return false;
}

void IpAddressEdit::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
  QFrame::changeEvent(event);
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Layout();
}

void IpAddressEdit::Layout() {
  const QRect r = contentsRect();
  const int w = r.width();
  const int h = r.height();
  const int dot = std::max(4, w / 20);
  const int field = (w - 3 * dot) / 4;
  int x = r.left();
  for (std::size_t i = 0; i < 4; ++i) {
    fields_[i]->setGeometry(x, r.top(), field, h);
    x += field;
    if (i < 3) {
      dots_[i]->setGeometry(x, r.top(), dot, h);
      x += dot;
    }
  }
}

int ListPosition(const QComboBox* combo) {
  const int i = combo->currentIndex();
  if (i < 0) return -1;
  if (combo->isEditable() && combo->currentText() != combo->itemText(i)) return -1;
  return i;
}

void SetListPosition(QComboBox* combo, int pos) {
  if (pos < 0 || pos >= combo->count()) {
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) combo->setEditText(QString());
    return;
  }
  combo->setCurrentIndex(pos);
}

}  // namespace velmora
