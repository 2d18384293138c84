#include "app/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <optional>

#include "app/app_services.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "protocol/receive_state.h"
#include "registry/register_url.h"
#include "widgets/qt_modal_ui.h"
#include "widgets/translation.h"

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

namespace {

struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption lang{QStringLiteral("lang"), QStringLiteral("Interface language: zh (default) or en."),
                          QStringLiteral("code")};
  QCommandLineOption registry{QStringLiteral("register"),
                              QStringLiteral("The device register: sqlite:PATH or postgresql://USER@HOST[:PORT]/DB "
                                             "(default: $VELMORA_REGISTER, else a file in the data folder)."),
                              QStringLiteral("URL")};
  CommandLine() {
    parser.setApplicationDescription(QStringLiteral("Configures the data terminal over a serial port or UDP."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(lang);
    parser.addOption(registry);
  }
  // --register, else VELMORA_REGISTER, else the file in the data folder.
  QString RegisterUrlText() const { return parser.isSet(registry) ? parser.value(registry) : RegisterUrlFromEnvironment(); }
};

int RefuseLanguage(const QString& code) {
  std::fprintf(stderr, "velmora: no such language: %s (zh, en)\n", qPrintable(code));
  return 2;
}

// What the command line asks that needs no display: help, the version, a language the
// program lacks. Empty when the window is to be made. Qt's own options (-platform,
// -style, ...) are known only to the QApplication, which takes them away; a command line
// holding an option unknown here is read again once it has.
std::optional<int> AnswerWithoutDisplay(int& argc, char** argv) {
  QCoreApplication core(argc, argv);
  CommandLine cl;
  if (!cl.parser.parse(QCoreApplication::arguments())) return std::nullopt;
  // The Qt options are listed by the QApplication alone.
  if (cl.parser.isSet(QStringLiteral("help-all"))) return std::nullopt;
  if (cl.parser.isSet(QStringLiteral("help"))) {
    std::fputs(qPrintable(cl.parser.helpText()), stdout);
    return 0;
  }
  if (cl.parser.isSet(QStringLiteral("version"))) {
    std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                qPrintable(QCoreApplication::applicationVersion()));
    return 0;
  }
  if (cl.parser.isSet(cl.lang) && !KnownLanguage(cl.parser.value(cl.lang))) return RefuseLanguage(cl.parser.value(cl.lang));
  if (QString error; !RegisterUrl::Parse(cl.RegisterUrlText(), &error)) {
    std::fprintf(stderr, "velmora: %s\n", qPrintable(error));
    return 2;
  }
  return std::nullopt;
}

}  // namespace

int RunApplication(int argc, char** argv) {
  TightenTimerSlack();
  QCoreApplication::setOrganizationName(QStringLiteral("velmora"));
  QCoreApplication::setApplicationName(QStringLiteral("velmora"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  if (const std::optional<int> answered = AnswerWithoutDisplay(argc, argv)) return *answered;

  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Velmora v1.2"));
  // Lets the desktop match the window to its installed entry and icon.
  QApplication::setDesktopFileName(QStringLiteral("io.github.velmora.Velmora"));
  QApplication::setWindowIcon(AppIcon());

  CommandLine cl;
  cl.parser.process(app);
  const QString register_url = cl.RegisterUrlText();

  AppSettings settings;
  // The language comes first, so the windows are built in it.
  const QString language = cl.parser.isSet(cl.lang) ? cl.parser.value(cl.lang) : settings.Language();
  if (!SetLanguage(language.isEmpty() ? QStringLiteral("zh") : language)) {
    if (cl.parser.isSet(cl.lang)) return RefuseLanguage(language);
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
