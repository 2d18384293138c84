#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <filesystem>

#include "config/config_defaults.h"
#include "config/ui/config_form_page.h"
#include "mqtt/ui/mqtt_page.h"
#include "profile/profile.h"
#include "profile/profile_writer.h"
#include "protocol/gbk.h"
#include "resources/config_layouts.h"
#include "resources/mqtt_layout.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "widgets/controls.h"

namespace velmora {
namespace {

using namespace res;
using test::AppFixture;

QAction* ProfileAction(MainWindow& w, const char* text) {
  return test::MenuItem(w.ProfileButton()->menu(), QString::fromUtf8(text));
}

TEST(ProfileMenu, LoadFillsTheSerialPageAsAReplyWouldAndSaveWritesTheSameFileSendingNothing) {
  AppFixture app;
  MainWindow& w = *app.window;
  auto& serial = *static_cast<ConfigFormPage*>(w.Page(MainWindow::kSerialPage));
  auto& network = *static_cast<ConfigFormPage*>(w.Page(MainWindow::kNetworkPage));
  auto& mqtt = *static_cast<MqttPage*>(w.Page(MainWindow::kMqttPage));
  QAction* load = ProfileAction(w, "载入配置文件...");
  QAction* save = ProfileAction(w, "保存配置文件...");
  ASSERT_TRUE(load && save);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.ProfileButton())->text(QAccessible::Name), QString::fromUtf8("配置文件"));

  // The menu sits in the tab row's corner beside "?", no taller than the row.
  QWidget* corner = w.Tabs()->cornerWidget(Qt::TopRightCorner);
  ASSERT_NE(corner, nullptr);
  EXPECT_TRUE(corner->isAncestorOf(w.ProfileButton()));
#ifndef Q_OS_WIN
  bool about = false;
  for (QToolButton* b : corner->findChildren<QToolButton*>()) about = about || b->text() == "?";
  EXPECT_TRUE(about);
#endif
  EXPECT_LE(corner->height(), w.Tabs()->tabBar()->height());

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Profile p = TemplateProfile();
  ConfigForm& f = *p.config;
  f.dhcp = true;
  f.net_mode = 1;  // TCP Server
  f.local_ip = {10, 1, 2, 3};
  f.eth_port = "502";
  f.domain = ToGbk(QString::fromUtf8("站点.example"));
  f.lora_freq = "868.10";
  f.uart_baud = 7;
  f.uart_map = 4;
  f.tx_power = 2;
  f.hex = true;
  f.heartbeat = "AA BB";
  f.register_data = "01 02 03";
  f.mac = "02:1A:2B:3C:4D:5E";
  p.mqtt = MqttCredentials{2, "pk1", ToGbk(QString::fromUtf8("泵站三")), "secret-1"};
  const QString site = dir.filePath("site.json");
  QString error;
  ASSERT_TRUE(WriteProfileFile(site, p, &error)) << error.toStdString();

  // Loaded while the MQTT page is shown: the configuration goes to the serial page.
  w.ShowPage(MainWindow::kMqttPage);
  app.modal.file_answers = {site};
  load->trigger();
  ASSERT_TRUE(app.modal.messages.isEmpty()) << app.modal.messages.join('\n').toStdString();
  EXPECT_EQ(app.modal.open_filters.last(), QString::fromUtf8("配置文件 (*.json);;所有文件 (*)"));
  EXPECT_EQ(serial.ReadForm(), f);
  EXPECT_EQ(mqtt.Credentials(), *p.mqtt);
  EXPECT_EQ(network.ReadForm(), DefaultConfigForm()) << "the network page keeps its form";
  const ControlMap& c = serial.Controls();
  // The rules a device reply applies: DHCP greys the addresses, TCP Server the server.
  for (int id : {kIdcLocalIp, kIdcSubnetMask, kIdcGateway}) EXPECT_FALSE(c.Get(id)->isEnabled()) << id;
  EXPECT_FALSE(c.Get(kIdcServerIp)->isEnabled());
  EXPECT_FALSE(c.Get(kIdcDomain)->isEnabled());
  EXPECT_EQ(c.Label(kIdcPortLabel)->text(), QString::fromUtf8("本地端口"));
  EXPECT_EQ(c.Combo(kSerialFormLists.uart_map)->currentText(), QString::fromUtf8("以太网"));
  EXPECT_EQ(c.Combo(kIdcUartBaud)->currentText(), "115200");
  EXPECT_EQ(c.Ip(kIdcLocalIp)->text(), "10.1.2.3");
  EXPECT_EQ(c.Edit(kIdcDomain)->text(), QString::fromUtf8("站点.example"));
  EXPECT_TRUE(c.Button(kIdcHex)->isChecked());
  EXPECT_EQ(c.Edit(kIdcHeartbeat)->text(), "AA BB");
  EXPECT_EQ(mqtt.Controls().Edit(kIdcDeviceName)->text(), QString::fromUtf8("泵站三"));

  // Saved back from the same pages: the same file, owner-only for the credentials.
  const QString again = dir.filePath("again.json");
  app.modal.file_answers = {again};
  save->trigger();
  ASSERT_TRUE(app.modal.messages.isEmpty()) << app.modal.messages.join('\n').toStdString();
  EXPECT_EQ(app.modal.save_suffixes.last(), "json");
  EXPECT_EQ(test::ReadFile(again), test::ReadFile(site));
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(again.toStdString()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // Replacing a file asks first; cancelled, the file stays as it was.
  c.Edit(kIdcEthPort)->setText("503");
  app.modal.answer = MessageAnswer::Cancel;
  app.modal.file_answers = {again};
  save->trigger();
  ASSERT_EQ(app.modal.messages.size(), 1);
  EXPECT_TRUE(app.modal.messages.last().startsWith("again.json"));
  EXPECT_EQ(test::ReadFile(again), test::ReadFile(site));
  c.Edit(kIdcEthPort)->setText("502");

  // A bad profile: the reader's message, and the form is left alone.
  const QString bad = dir.filePath("bad.json");
  QByteArray text = test::ReadFile(site);
  text.replace("\"115200\"", "\"115201\"");
  QFile out(bad);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(text);
  out.close();
  app.modal.file_answers = {bad};
  load->trigger();
  ASSERT_EQ(app.modal.messages.size(), 2);
  EXPECT_TRUE(app.modal.messages.last().contains("config.uart_baud: must be one of \"1200\"")) << app.modal.messages.last().toStdString();
  EXPECT_EQ(serial.ReadForm(), f);

  // Nothing went to a device: the Log pane says what was loaded and saved, no frame.
  const QString log = app.LogText();
  EXPECT_FALSE(log.contains(QString::fromUtf8("发送"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QString::fromUtf8("[配置文件]: 已载入 ") + site));
  EXPECT_TRUE(log.contains(QString::fromUtf8("[配置文件]: 已保存 ") + again));
}

}  // namespace
}  // namespace velmora
