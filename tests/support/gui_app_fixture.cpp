#include "support/gui_app_fixture.h"

#include "widgets/log_pane.h"

namespace velmora::test {

QString AppProgram() { return QStringLiteral(VELMORA_APP_PATH); }

QString AppFixture::LogText() const { return window->Log()->AllText(); }

QList<QMenu*> VisibleMenus() {
  QList<QMenu*> out;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible()) out << m;
  }
  return out;
}

QAction* MenuItem(const QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

void CloseMenus() {
  for (QMenu* m : VisibleMenus()) m->close();
}

}  // namespace velmora::test
