#include "widgets/controls.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>

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
    f->setAccessibleName(QStringLiteral("octet %1").arg(i + 1));
    connect(f, &QLineEdit::textEdited, this, [this, i, f](const QString& t) {
      bool ok = false;
      const int v = t.toInt(&ok);
      if (ok && v > 255) f->setText(QStringLiteral("255"));
      if (t.size() == 3 && i + 1 < fields_.size()) {
        fields_[i + 1]->setFocus();
        fields_[i + 1]->selectAll();
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

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  auto* f = qobject_cast<QLineEdit*>(watched);
  const auto it = std::find(fields_.begin(), fields_.end(), f);
  if (it == fields_.end()) return false;
  const auto i = static_cast<std::size_t>(it - fields_.begin());
  auto* key = static_cast<QKeyEvent*>(event);
  const QString t = key->text();
  if (key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) {
    if (i + 1 < 4 && !f->text().isEmpty()) {
      fields_[i + 1]->setFocus();
      fields_[i + 1]->selectAll();
    }
    return true;
  }
  if (key->key() == Qt::Key_Backspace && f->text().isEmpty() && i > 0) {
    fields_[i - 1]->setFocus();
    fields_[i - 1]->setCursorPosition(fields_[i - 1]->text().size());
    return true;
  }
  if (key->key() == Qt::Key_Left && f->cursorPosition() == 0 && i > 0) {
    fields_[i - 1]->setFocus();
    return true;
  }
  if (key->key() == Qt::Key_Right && f->cursorPosition() == f->text().size() && i + 1 < 4) {
    fields_[i + 1]->setFocus();
    fields_[i + 1]->setCursorPosition(0);
    return true;
  }
  if (!t.isEmpty() && t[0].isPrint() && !t[0].isDigit() && !(key->modifiers() & Qt::ControlModifier)) return true;
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
