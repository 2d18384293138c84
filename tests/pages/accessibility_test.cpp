// What a screen reader or a UI-automation tool is told follows what the screen shows.

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "console/ui/send_dialog.h"
#include "discovery/ui/devices_dialog.h"
#include "fota/ui/firmware_dialog.h"
#include "page_harness.h"
#include "resources/console_layout.h"
#include "support/frames.h"
#include "widgets/translation.h"

namespace velmora {
namespace {

using test::PageHarness;
using test::PtyPair;

QString U(const char* s) { return QString::fromUtf8(s); }

QString Name(QObject* o) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
  return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
}
QString Value(QObject* o) { return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Value); }

TEST(Accessibility, NamesFollowTheTextsThatChangeAndListsAreNamedByTheirLabel) {
  PageHarness app;
  // Nothing pins these names: Qt derives them from the texts and tells readers when the
  // texts change (the offscreen platform has no reader to watch that happen).
  // Status text.
  QWidget* status = FindControl(app.window.get(), 1005);
  app.window->SetStatusText(QStringLiteral("Successful!"));
  EXPECT_EQ(Name(status), "Successful!");

  // The serial page's open button, as it turns into the close button.
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  QAbstractButton* open = app.Button(app.Serial(), 1003);
  EXPECT_EQ(Name(open), U("打开"));
  app.OpenSerialOn(pty);
  EXPECT_EQ(Name(open), U("关闭"));

  // The relabelled port label, and the box it names.
  app.Show(app.Network());
  app.Choose(app.Network(), 1004, QStringLiteral("TCP Server"));
  QWidget* label = FindControl(&app.Network(), 1056);
  QWidget* port = app.Edit(app.Network(), 1018);
  EXPECT_EQ(Name(label), U("本地端口"));
  EXPECT_EQ(Name(port), U("本地端口"));

  // Lists say what they are, and their item is their value.
  QComboBox* baud = app.Combo(app.Serial(), 1001);
  EXPECT_EQ(Name(baud), U("波特率"));
  EXPECT_EQ(Value(baud), "115200");
  EXPECT_EQ(Name(app.Ip(app.Network(), 1006)->Field(1)), U("本地IPv4 2/4"));

  // The firmware dialog's labels and progress.
  QTemporaryDir dir;
  const QString image = dir.filePath("fw.bin");
  ASSERT_TRUE(test::WriteBytes(image, test::TestImage(3000)));
  app.window->OpenFirmwareDialog(Link::Udp);
  FirmwareDialog* dlg = app.window->Firmware();
  app.modal.file_answers.push_back(image);
  qobject_cast<QAbstractButton*>(FindControl(dlg, 1003))->click();
  QWidget* name = FindControl(dlg, 1041);
  QWidget* size = FindControl(dlg, 1042);
  EXPECT_EQ(Name(name), "fw.bin");
  EXPECT_EQ(Name(size), "3.000 kb");
  auto* bar = qobject_cast<QProgressBar*>(FindControl(dlg, 1040));
  EXPECT_EQ(Name(bar), U("烧写进度"));
  qobject_cast<QAbstractButton*>(FindControl(dlg, 1019))->click();
  EXPECT_EQ(Value(bar), "1");

  // The devices dialog: the list is named by its label, the buttons by their captions,
  // in either language.
  app.window->OpenDevicesDialog();
  DevicesDialog* devices = app.window->Devices();
  EXPECT_EQ(Name(devices->List()), U("应答的设备"));
  EXPECT_EQ(Name(devices->SearchButton()), U("搜索"));
  EXPECT_EQ(Name(devices->ConnectButton()), U("连接"));
  ASSERT_TRUE(SetLanguage(QStringLiteral("en")));
  EXPECT_EQ(Name(devices->List()), U("Devices that answered"));
  EXPECT_EQ(Name(devices->ConnectButton()), U("Connect"));
  ASSERT_TRUE(SetLanguage(QStringLiteral("zh")));
  // The send console's boxes and lists are named by the labels beside them; the link list
  // offers the serial port, open above.
  app.window->OpenSendDialog();
  const ControlMap& console = app.window->Console()->Controls();
  EXPECT_EQ(Name(console.Get(res::kIdcConsoleData)), U("数据"));
  EXPECT_EQ(Name(console.Get(res::kIdcConsoleFormat)), U("格式"));
  EXPECT_EQ(Value(console.Get(res::kIdcConsoleFormat)), U("十六进制"));
  EXPECT_EQ(Name(console.Get(res::kIdcConsoleLink)), U("链路"));
  EXPECT_EQ(Value(console.Get(res::kIdcConsoleLink)), U("串口"));
  EXPECT_EQ(Name(console.Get(res::kIdcConsoleLineEnd)), U("追加回车换行"));
  EXPECT_EQ(Name(console.Get(res::kIdcConsoleSend)), U("发送"));
}

}  // namespace
}  // namespace velmora
