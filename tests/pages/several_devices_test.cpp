// Several devices behind one broadcast address, on loopback: the network page's
// 127.255.255.255 reaches a "device" socket listening on every address, and three
// sockets on 127.0.0.2 to .4 answer as three devices would.

#include <QHostAddress>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QUdpSocket>

#include <memory>
#include <vector>

#include "config/config_defaults.h"
#include "discovery/ui/devices_dialog.h"
#include "page_harness.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;

QString U(const char* s) { return QString::fromUtf8(s); }

Bytes ConfigReply(uint8_t host, const char* mac) {
  ConfigForm f = DefaultConfigForm();
  f.local_ip = {192, 0, 2, host};
  f.mac = mac;
  const ConfigRecord r = EncodeConfig(f);
  return test::Reply(cmd::kReadConfig, Bytes(r.begin(), r.end()));
}

// Answers every query the tool broadcasts, once from each of three addresses, all within
// a millisecond: well inside one closing period.
class ThreeDevices {
 public:
  ThreeDevices(quint16 device_port, quint16 tool_port) : tool_port_(tool_port) {
    test::NoProxy(listen_);
    ok_ = listen_.bind(QHostAddress::AnyIPv4, device_port);
    for (int i = 0; i < 3; ++i) {
      auto s = std::make_unique<QUdpSocket>();
      test::NoProxy(*s);
      ok_ = ok_ && s->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i)), 0);
      answer_.push_back(std::move(s));
    }
    QObject::connect(&listen_, &QUdpSocket::readyRead, &listen_, [this] { Answer(); });
  }
  bool Ok() const { return ok_; }
  std::vector<Bytes> received;
  quint16 Port(int i) const { return answer_[static_cast<std::size_t>(i)]->localPort(); }

 private:
  void Answer() {
    while (listen_.hasPendingDatagrams()) {
      QByteArray d(static_cast<qsizetype>(listen_.pendingDatagramSize()), '\0');
      listen_.readDatagram(d.data(), d.size());
      received.emplace_back(d.begin(), d.end());
      if (d.size() < 3) continue;
      const auto code = static_cast<uint8_t>(d[2]);
      for (int i = 0; i < 3; ++i) {
        Bytes reply;
        if (code == cmd::kReadVersion) reply = test::Reply(code, test::Text("V" + std::to_string(i)));
        if (code == cmd::kReadConfig) reply = ConfigReply(static_cast<uint8_t>(20 + i), i == 2 ? "02:00:00:00:00:01" : i == 0 ? "02:00:00:00:00:01" : "");
        if (code == cmd::kWriteConfig) reply = test::Reply(code, Bytes(d.begin() + 4, d.end() - 2));
        if (reply.empty()) continue;
        answer_[static_cast<std::size_t>(i)]->writeDatagram(reinterpret_cast<const char*>(reply.data()),
                                                            static_cast<qint64>(reply.size()), QHostAddress::LocalHost, tool_port_);
      }
    }
  }
  quint16 tool_port_;
  QUdpSocket listen_;
  std::vector<std::unique_ptr<QUdpSocket>> answer_;
  bool ok_ = false;
};

TEST(SeveralDevices, EveryAnswerIsHeardTheLogNamesTheDevicesAndAWriteAsksFirst) {
  PageHarness app;
  ThreeDevices devices(app.udp_device_port, app.udp_local_port);
  ASSERT_TRUE(devices.Ok());
  NetworkPage& page = app.Network();
  app.TypeAddress(page, 1016, QStringLiteral("127.255.255.255"));
  app.Click(page, 1003);
  ASSERT_TRUE(app.udp.IsOpen());

  app.Click(page, 1035);  // 读版本
  ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(U("读取版本成功")) == 3; }));
  const QStringList lines = app.LogLines();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(lines.contains(U("[UDP]: 以下数据来自 127.0.0.%1:%2.").arg(2 + i).arg(devices.Port(i)))) << i;
    EXPECT_TRUE(lines.contains(QStringLiteral("V%1").arg(i))) << i;
  }
  // Once per change: when the second device answered, then the third.
  EXPECT_EQ(app.CountLines(U("[UDP]: 有 2 台设备应答")), 1);
  EXPECT_EQ(app.CountLines(U("[UDP]: 有 3 台设备应答")), 1);
  app.Click(page, 1035);
  ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(U("读取版本成功")) == 6; }));
  EXPECT_EQ(app.CountLines(U("[UDP]: 有 ")), 2);

  // A write to all three asks first, naming them; declined, nothing goes out.
  const std::size_t before = devices.received.size();
  app.modal.answer = MessageAnswer::Cancel;
  app.Click(page, 1033);  // 写入配置
  ASSERT_EQ(app.modal.messages.size(), 1);
  EXPECT_TRUE(app.modal.messages[0].contains(U("127.0.0.3:%1").arg(devices.Port(1)))) << app.modal.messages[0].toStdString();
  EXPECT_TRUE(app.modal.messages[0].contains(U("有 3 台设备")));
  QTest::qWait(100);
  EXPECT_EQ(devices.received.size(), before);
  app.modal.answer = MessageAnswer::Ok;
  app.Click(page, 1033);
  ASSERT_TRUE(test::WaitUntil([&] { return devices.received.size() == before + 1; }));
  EXPECT_EQ(devices.received.back()[2], cmd::kWriteConfig);

  // One device's own address: no question.
  app.Click(page, 1003);
  app.TypeAddress(page, 1016, QStringLiteral("127.0.0.1"));
  app.Click(page, 1003);
  app.Click(page, 1033);
  EXPECT_EQ(app.modal.messages.size(), 2);
}

TEST(DevicesDialog, SearchListsEachDeviceMarksClonesLeavesTheFormAloneAndConnectPointsThePageAtOne) {
  PageHarness app;
  ThreeDevices devices(app.udp_device_port, app.udp_local_port);
  ASSERT_TRUE(devices.Ok());
  NetworkPage& page = app.Network();
  app.TypeAddress(page, 1016, QStringLiteral("127.255.255.255"));
  const ConfigForm form_before = page.ReadForm();

  QAction* entry = test::MenuItem(app.window->ToolsButton()->menu(), U("设备列表..."));
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  DevicesDialog* dlg = app.window->Devices();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(dlg->isVisible());
  dlg->SetWaitMs(300);
  QTest::mouseClick(dlg->SearchButton(), Qt::LeftButton);
  EXPECT_TRUE(dlg->Searching());
  ASSERT_TRUE(test::WaitUntil([&] { return !dlg->Searching(); }));

  QTreeWidget* list = dlg->List();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list->topLevelItem(i)->text(0), QStringLiteral("127.0.0.%1").arg(2 + i));
    EXPECT_EQ(list->topLevelItem(i)->text(1), QStringLiteral("V%1").arg(i));
    EXPECT_EQ(list->topLevelItem(i)->text(3), QStringLiteral("192.0.2.%1").arg(20 + i));
  }
  EXPECT_FALSE(list->topLevelItem(0)->text(4).isEmpty());  // the same MAC as the third
  EXPECT_TRUE(list->topLevelItem(1)->text(4).isEmpty());
  EXPECT_FALSE(list->topLevelItem(2)->text(4).isEmpty());
  // The answers were the search's: logged, but no page filled its form from them, and the
  // link the search opened is closed again.
  EXPECT_EQ(page.ReadForm(), form_before);
  EXPECT_EQ(app.CountLines(U("UDP接收:")), 6);
  EXPECT_EQ(app.CountLines(U("[UDP]: 搜索结束: 127.255.255.255 有 3 台设备应答.")), 1);
  EXPECT_FALSE(app.udp.IsOpen());

  list->setCurrentItem(list->topLevelItem(1));
  QTest::mouseClick(dlg->ConnectButton(), Qt::LeftButton);
  EXPECT_TRUE(app.udp.IsOpen());
  EXPECT_EQ(app.udp.DeviceAddress(), QStringLiteral("127.0.0.3"));
  EXPECT_EQ(page.AddressText(), QStringLiteral("127.0.0.3"));
  EXPECT_EQ(app.window->Tabs()->currentIndex(), MainWindow::kNetworkPage);
  EXPECT_FALSE(app.udp.HearsEverySender());
}

}  // namespace
}  // namespace velmora
