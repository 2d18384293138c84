#include "app/settings.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/main_window.h"
#include "resources/config_layouts.h"
#include "resources/fota_layout.h"
#include "widgets/controls.h"
#include "widgets/qt_modal_ui.h"
#include "widgets/translation.h"
#include "support/gui_app_fixture.h"

namespace velmora {
namespace {

using test::AppFixture;

QComboBox* Combo(const MainWindow& w, int id) {
  return qobject_cast<QComboBox*>(FindControl(w.Page(MainWindow::kSerialPage), id));
}

IpAddressEdit* Broadcast(const MainWindow& w) {
  return qobject_cast<IpAddressEdit*>(FindControl(w.Page(MainWindow::kNetworkPage), res::kIdcBroadcastAddress));
}

QString FirmwareFilter() { return QtFileFilter(QString::fromUtf8(res::kFirmwareFileFilter)); }

// The user's settings file lives in a folder of the test's own.
struct SettingsFolder {
  QTemporaryDir dir;
  SettingsFolder() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  }
  QString File() const { return dir.filePath(QStringLiteral("velmora/velmora.ini")); }
};

// What one run leaves is what the next run starts with: port, baud rate, parity, broadcast
// address, firmware folder, language, window position and the session log option, in a new window
// on the same file. The configuration form is not among them.
TEST(Settings, ARestartShowsWhatTheLastRunLeft) {
  SettingsFolder folder;
  const QString port = QStringLiteral("/dev/ttyVELMORA1");  // listed in both runs
  QString session_log;
  {
    AppFixture app;
    MainWindow& w = *app.window;
    QtModalUi modal;
    AppSettings settings;
    settings.Restore(w, modal);  // no file: the defaults
    EXPECT_EQ(Combo(w, res::kIdcBaudRate)->currentText(), QStringLiteral("115200"));
    EXPECT_FALSE(w.SessionLogOn());

    Combo(w, res::kIdcComPort)->addItem(port);
    Combo(w, res::kIdcComPort)->setCurrentText(port);
    Combo(w, res::kIdcBaudRate)->setCurrentIndex(Combo(w, res::kIdcBaudRate)->findText(QStringLiteral("9600")));
    Combo(w, res::kIdcParity)->setCurrentIndex(Combo(w, res::kIdcParity)->findText(QStringLiteral("EVEN")));
    Broadcast(w)->setText(QStringLiteral("192.168.7.255"));
    modal.SetStartFolder(FirmwareFilter(), folder.dir.path());
    w.move(37, 41);
    for (QAction* a : w.LogMenu()->actions()) {
      if (a->isCheckable()) a->trigger();
    }
    ASSERT_TRUE(w.SessionLogOn());
    session_log = w.SessionLogPath();
    for (QAction* a : w.LanguageButton()->menu()->actions()) {
      if (a->data() == QStringLiteral("en")) a->trigger();
    }
    settings.Save(w, modal);
    SetLanguage(QStringLiteral("zh"));
  }
  ASSERT_TRUE(QFile::exists(folder.File()));

  AppFixture app;
  MainWindow& w = *app.window;
  Combo(w, res::kIdcComPort)->addItem(port);
  QtModalUi modal;
  AppSettings settings;
  EXPECT_EQ(settings.FileName(), folder.File());
  settings.Restore(w, modal);
  EXPECT_EQ(Combo(w, res::kIdcComPort)->currentText(), port);
  EXPECT_EQ(Combo(w, res::kIdcBaudRate)->currentText(), QStringLiteral("9600"));
  EXPECT_EQ(Combo(w, res::kIdcParity)->currentText(), QStringLiteral("EVEN"));
  EXPECT_EQ(Broadcast(w)->text(), QStringLiteral("192.168.7.255"));
  EXPECT_EQ(modal.StartFolder(FirmwareFilter()), folder.dir.path());
  EXPECT_EQ(w.pos(), QPoint(37, 41));
  EXPECT_TRUE(w.SessionLogOn());
  EXPECT_EQ(settings.Language(), QStringLiteral("en"));
  EXPECT_FALSE(SetLanguage(QStringLiteral("fr")));  // a value the program lacks changes nothing
  EXPECT_EQ(Language(), QStringLiteral("zh"));
  QFile::remove(session_log);
  QFile::remove(w.SessionLogPath());
}

// A settings file of garbage, and one with every value out of range, give the defaults
// without a crash; the next save makes a file the run after reads again.
TEST(Settings, ACorruptFileGivesTheDefaultsAndIsWrittenAfresh) {
  SettingsFolder folder;
  ASSERT_TRUE(QDir().mkpath(QFileInfo(folder.File()).absolutePath()));
  const QList<QByteArray> files{
      QByteArray("\x00\xff\xfe[serial\n\x01port=\"\n=\\\\\\x\n[[[]]\nbaud=@Point(\n", 40) + QByteArray(3000, '\xc3'),
      QByteArray("[serial]\nport=/dev/none\nbaud=-5\nparity=MAYBE\n[network]\nbroadcast=300.1.1.1\n"
                 "[window]\nx=zz\ny=@Rect(1 2 3 4)\n[log]\nsession=@ByteArray(\\x01)\n"),
  };
  for (const QByteArray& bytes : files) {
    {
      QFile f(folder.File());
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(bytes);
    }
    AppFixture app;
    MainWindow& w = *app.window;
    const QPoint pos = w.pos();
    const QString port = Combo(w, res::kIdcComPort)->currentText();
    QtModalUi modal;
    AppSettings settings;
    settings.Restore(w, modal);
    EXPECT_EQ(Combo(w, res::kIdcComPort)->currentText(), port);
    EXPECT_EQ(Combo(w, res::kIdcBaudRate)->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(Combo(w, res::kIdcParity)->currentText(), QStringLiteral("NO"));
    EXPECT_EQ(Broadcast(w)->text(), QStringLiteral("255.255.255.255"));
    EXPECT_EQ(w.pos(), pos);
    EXPECT_FALSE(w.SessionLogOn());

    Combo(w, res::kIdcBaudRate)->setCurrentIndex(Combo(w, res::kIdcBaudRate)->findText(QStringLiteral("4800")));
    settings.Save(w, modal);
    AppSettings again;
    QtModalUi modal_again;
    Combo(w, res::kIdcBaudRate)->setCurrentIndex(0);
    again.Restore(w, modal_again);
    EXPECT_EQ(Combo(w, res::kIdcBaudRate)->currentText(), QStringLiteral("4800"));
  }
}

}  // namespace
}  // namespace velmora
