// The link rows: the serial page's COM port and the network page's UDP endpoint.

#include <QUdpSocket>

#include <algorithm>

#include "page_harness.h"
#include "transport/serial_port_list.h"

namespace velmora {
namespace {

using test::PageHarness;
using test::PtyPair;

QString U(const char* s) { return QString::fromUtf8(s); }

TEST(SerialLink, OpensATypedPortWithTheChosenSettingsAndLocksTheRowUntilClosed) {
  PageHarness app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SerialPage& page = app.Serial();
  app.Choose(page, 1001, "19200");
  app.OpenSerialOn(pty);
  EXPECT_EQ(app.serial.Port(), pty.SlavePath());
  EXPECT_EQ(app.serial.Baud(), 19200);
  EXPECT_EQ(app.serial.Parity(), 0);
  EXPECT_EQ(app.Button(page, 1003)->text(), U("关闭"));
  for (int id : {1000, 1001, 1002, 1039}) EXPECT_FALSE(app.Ctl(page, id)->isEnabled()) << id;
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 打开串口成功."));

  app.Click(page, 1003);
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  for (int id : {1000, 1001, 1002, 1039}) EXPECT_TRUE(app.Ctl(page, id)->isEnabled()) << id;
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 关闭串口成功."));
  EXPECT_EQ(app.LogLines().size(), 2);
}

TEST(SerialLink, TypedBaudAndParityAreUsedWhenReadableElseNothingOpens) {
  PageHarness app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SerialPage& page = app.Serial();
  app.TypeInList(page, 1000, pty.SlavePath());

  app.TypeInList(page, 1001, "96OO");
  app.Click(page, 1003);
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 波特率无效:96OO"));
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));

  app.TypeInList(page, 1001, "250000");
  app.TypeInList(page, 1002, "Parity");
  app.Click(page, 1003);
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 校验方式无效:Parity"));

  // A pseudo-terminal cannot keep even parity: the port opens, refuses the setting, and
  // the page lets it go rather than showing a half-set link as open.
  app.TypeInList(page, 1002, "even");
  app.Click(page, 1003);
  EXPECT_EQ(app.serial.Baud(), 250000);
  EXPECT_EQ(app.serial.Parity(), 2);
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  EXPECT_EQ(app.LogLines().back(), U("[COM]: 打开串口失败:") + pty.SlavePath());
  EXPECT_TRUE(SerialPortList::Exists(pty.SlavePath()));

  app.TypeInList(page, 1002, "no");
  app.Click(page, 1003);
  ASSERT_TRUE(app.serial.IsOpen());
  EXPECT_EQ(app.serial.Parity(), 0);
  EXPECT_EQ(app.serial.Baud(), 250000);
}

TEST(SerialLink, NoPortDoesNothingAndAFailedOpenSaysSo) {
  PageHarness app;
  SerialPage& page = app.Serial();
  app.TypeInList(page, 1000, "");
  app.Click(page, 1003);
  EXPECT_TRUE(app.LogLines().isEmpty());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));

  const QString missing = QStringLiteral("/dev/velmora-no-such-port");
  app.TypeInList(page, 1000, missing);
  app.Click(page, 1003);
  EXPECT_FALSE(app.serial.IsOpen());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  for (int id : {1000, 1001, 1002, 1039}) EXPECT_TRUE(app.Ctl(page, id)->isEnabled()) << id;
  EXPECT_EQ(app.LogLines(), QStringList{U("[COM]: 打开串口失败:") + missing});
}

TEST(SerialLink, RefreshReplacesTheListAndSelectsTheFirstPort) {
  PageHarness app;
  SerialPage& page = app.Serial();
  app.TypeInList(page, 1000, "typed");
  app.Click(page, 1039);
  app.Click(page, 1039);
  QComboBox* ports = app.Combo(page, 1000);
  QStringList items;
  for (int i = 0; i < ports->count(); ++i) items << ports->itemText(i);
  EXPECT_EQ(items.removeDuplicates(), 0) << items.join(',').toStdString();
  EXPECT_FALSE(items.contains("typed"));
  EXPECT_EQ(ListPosition(ports), items.isEmpty() ? -1 : 0);
  EXPECT_EQ(ports->currentText(), items.isEmpty() ? QString() : items.front());
}

TEST(NetworkLink, BlankAddressAsksForOneAndChangesNothing) {
  PageHarness app;
  NetworkPage& page = app.Network();
  app.Ip(page, 1016)->Clear();
  app.Click(page, 1003);
  EXPECT_EQ(app.modal.messages, QStringList{U("连接的本地IP地址不能为空!")});
  EXPECT_FALSE(app.udp.IsOpen());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  EXPECT_TRUE(app.LogLines().isEmpty());
}

TEST(NetworkLink, OpenAndCloseLogTheAddressAndLockItWhileOpen) {
  PageHarness app;
  NetworkPage& page = app.Network();
  app.Click(page, 1003);  // the default broadcast address
  ASSERT_TRUE(app.udp.IsOpen());
  EXPECT_EQ(app.udp.DeviceAddress(), "255.255.255.255");
  EXPECT_FALSE(app.Ctl(page, 1016)->isEnabled());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("关闭"));
  EXPECT_EQ(app.LogLines().back(), U("UDP_Server已建立连接:255.255.255.255"));

  app.Click(page, 1003);
  EXPECT_FALSE(app.udp.IsOpen());
  EXPECT_TRUE(app.udp.DeviceAddress().isEmpty());
  EXPECT_TRUE(app.Ctl(page, 1016)->isEnabled());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  EXPECT_EQ(app.LogLines().back(), U("UDP_Server已断开连接:255.255.255.255"));

  app.OpenNetworkOnLoopback();
  EXPECT_EQ(app.udp.DeviceAddress(), "127.0.0.1");
}

TEST(NetworkLink, APortHeldElsewhereLeavesTheLinkClosedWithALogLine) {
  PageHarness app;
  QUdpSocket holder;
  ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, app.udp_local_port, QAbstractSocket::DontShareAddress));
  NetworkPage& page = app.Network();
  app.Click(page, 1003);
  EXPECT_FALSE(app.udp.IsOpen());
  EXPECT_EQ(app.Button(page, 1003)->text(), U("打开"));
  EXPECT_TRUE(app.Ctl(page, 1016)->isEnabled());
  EXPECT_TRUE(app.modal.messages.isEmpty());
  EXPECT_EQ(app.LogLines(), QStringList{U("UDP_Server建立连接失败,本地端口%1不可用.").arg(app.udp_local_port)});
}

TEST(NetworkLink, ACommandBeforeOpeningShowsTheSendFailureThenLogs) {
  PageHarness app;
  int lines_when_box_shown = -1;
  app.modal.while_shown = [&] { lines_when_box_shown = app.LogLines().size(); };
  app.Click(app.Network(), 1035);
  ASSERT_EQ(app.modal.messages.size(), 1);
  EXPECT_TRUE(app.modal.messages.front().startsWith(U("UDP发送失败,请先打开UDP服务:")));
  EXPECT_EQ(lines_when_box_shown, 0);
  EXPECT_EQ(app.LogLines(), QStringList{U("UDP发送:F5 80 E3 00 58 0D ")});
  EXPECT_EQ(app.window->StatusText(), "....");
}

TEST(NetworkLink, RepliesFromAnotherHostThanTheDeviceAreLoggedNotHandled) {
  PageHarness app;
  test::UdpDevice device(app.udp_device_port);
  ASSERT_TRUE(device.Bound());
  QUdpSocket stranger;
  test::NoProxy(stranger);
  ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
  app.OpenNetworkOnLoopback();
  app.Click(app.Network(), 1035);  // 读版本
  ASSERT_FALSE(device.Receive().empty());
  ASSERT_EQ(app.window->StatusText(), "....");

  // Another host answers first, three times.
  const test::Bytes forged = test::Reply(cmd::kReadVersion, {'E', 'V', 'I', 'L'});
  for (int i = 0; i < 3; ++i) {
    stranger.writeDatagram(reinterpret_cast<const char*>(forged.data()), static_cast<qint64>(forged.size()),
                           QHostAddress::LocalHost, app.udp_local_port);
  }
  const QString ignored = U("[UDP]: 忽略来自 127.0.0.2:%1 的 %2 字节数据").arg(stranger.localPort()).arg(forged.size());
  ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(ignored) == 1; }));
  QTest::qWait(30);  // many pump ticks
  EXPECT_EQ(app.LogLines().back(), ignored + ".");
  EXPECT_EQ(app.window->StatusText(), "....");
  EXPECT_EQ(app.CountLines(U("UDP接收:")), 0);

  // The device's own answer is handled as ever, with no sender line.
  device.Send(test::Reply(cmd::kReadVersion, {'V', '1'}));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  const QStringList lines = app.LogLines();
  const auto received =
      std::find_if(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith(U("UDP接收:")); });
  ASSERT_NE(received, lines.end());
  EXPECT_EQ(lines.mid(static_cast<int>(received - lines.begin()) + 1, 2), (QStringList{U("读取版本成功. "), "V1"}));

  // The other two are counted in one line once the second has passed.
  ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(ignored) == 2; }, std::chrono::seconds(3)));
  EXPECT_EQ(app.LogLines().back(), ignored + U("(另有 1 个数据包被忽略)."));
  EXPECT_EQ(app.CountLines(U("[UDP]: 以下数据来自")), 0);
  EXPECT_TRUE(app.modal.messages.isEmpty());
}

}  // namespace
}  // namespace velmora
