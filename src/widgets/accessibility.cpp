#include "widgets/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>

#include "widgets/controls.h"

namespace velmora {

namespace {

// Qt names a combo box after its current item on Linux, so a reader hears "115200" and
// never "波特率". Ours is named after its label; the item is its value.
class AccessibleComboBox : public QAccessibleWidget {
 public:
  explicit AccessibleComboBox(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    const auto* combo = static_cast<const QComboBox*>(object());
    if (t == QAccessible::Value) return combo->currentText();
    return QAccessibleWidget::text(t);
  }

  QStringList actionNames() const override {
    return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& name) override {
    if (name == showMenuAction()) {
      static_cast<QComboBox*>(object())->showPopup();
      return;
    }
    QAccessibleWidget::doAction(name);
  }
};

QAccessibleInterface* Factory(const QString& class_name, QObject* object) {
  if (object && object->isWidgetType() && class_name == QLatin1String(ComboBox::staticMetaObject.className())) {
    return new AccessibleComboBox(static_cast<QWidget*>(object));
  }
  return nullptr;
}

}  // namespace

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

QString LabelName(const QString& label_text) {
  QString s = label_text;
  s.remove(QLatin1Char('&'));
  s = s.simplified();
  while (s.endsWith(QLatin1Char(':')) || s.endsWith(QChar(0xFF1A))) s.chop(1);
  return s.trimmed();
}

void NameControl(QWidget* control, const QString& name) {
  if (auto* ip = qobject_cast<IpAddressEdit*>(control)) {
    ip->SetAccessibleLabel(name);
  } else {
    control->setAccessibleName(name);
  }
}

void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  if (QWidget* named = label->buddy()) NameControl(named, LabelName(text));
}

}  // namespace velmora
