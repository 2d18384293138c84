#include "app/application.h"

#include <QApplication>
#include <QDialog>

namespace velmora {

int RunApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  QDialog dlg;
  dlg.setWindowTitle(QString::fromUtf8("Velmora v1.2"));
  dlg.show();
  return app.exec();
}

}  // namespace velmora
