// velmora-cli: the command-line front end, on the same core as the window and without
// Qt Widgets, so it runs on a machine with no display.

#include <QCoreApplication>

#include "cli/cli_app.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
  return velmora::cli::RunCli(QCoreApplication::arguments());
}
