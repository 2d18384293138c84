#include "app/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QPixmap>

#include <cstdio>

#include "app/app_services.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "widgets/qt_modal_ui.h"
#include "widgets/translation.h"
#include "protocol/receive_state.h"
#include "registry/register_url.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace velmora {

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x5f, 0x9f));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(size * 3 / 4);
    p.setFont(f);
    p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("V"));
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

void TightenTimerSlack() {
#ifdef Q_OS_LINUX
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

int RunApplication(int argc, char** argv) {
  TightenTimerSlack();
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("velmora"));
  QApplication::setApplicationName(QStringLiteral("velmora"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velmora v1.2"));
  QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  // Lets the desktop match the window to its installed entry and icon.
  QApplication::setDesktopFileName(QStringLiteral("io.github.velmora.Velmora"));
  QApplication::setWindowIcon(AppIcon());

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Configures the data terminal over a serial port or UDP."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption lang(QStringLiteral("lang"), QStringLiteral("Interface language: zh (default) or en."),
                                QStringLiteral("code"));
  parser.addOption(lang);
  const QCommandLineOption registry(QStringLiteral("register"),
                                    QStringLiteral("The device register: sqlite:PATH or postgresql://USER@HOST[:PORT]/DB "
                                                   "(default: $VELMORA_REGISTER, else a file in the data folder)."),
                                    QStringLiteral("URL"));
  parser.addOption(registry);
  parser.process(app);
  const QString register_url = parser.isSet(registry) ? parser.value(registry) : RegisterUrlFromEnvironment();
  if (QString error; !RegisterUrl::Parse(register_url, &error)) {
    std::fprintf(stderr, "velmora: %s\n", qPrintable(error));
    return 2;
  }

  AppSettings settings;
  // The language comes first, so the windows are built in it.
  const QString language = parser.isSet(lang) ? parser.value(lang) : settings.Language();
  if (!SetLanguage(language.isEmpty() ? QStringLiteral("zh") : language)) {
    if (parser.isSet(lang)) {
      std::fprintf(stderr, "velmora: no such language: %s (zh, en)\n", qPrintable(language));
      return 2;
    }
    SetLanguage(QStringLiteral("zh"));  // a settings file naming a language this build lacks
  }
  Application program;
  program.Window().SetRegister(register_url);
  settings.Restore(program.Window(), program.Modal());
  program.Window().show();
  const int code = app.exec();
  settings.Save(program.Window(), program.Modal());
  return code;
}

Application::Application() : window_(std::make_unique<MainWindow>(services_)) {
  modal_.SetParent(window_.get());
}

Application::~Application() {
  // The window first: an upload in progress stops with it, and nothing sends any more.
  window_.reset();
  serial_.Close();
}

}  // namespace velmora
