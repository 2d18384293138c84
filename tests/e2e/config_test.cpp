// Configuration, MQTT credentials and device queries through the real simulator: what one
// page writes over one link, the device keeps byte for byte, and the other page (or a
// later read) shows again over the other link.

#include <map>

#include "config/config_record.h"
#include "e2e_harness.h"
#include "mqtt/mqtt_record.h"
#include "mqtt/ui/mqtt_page.h"
#include "protocol/gbk.h"

namespace velmora {
namespace {

using test::AsBytes;
using test::SimAndTool;
using test::WaitUntil;

QString U(const char* s) { return QString::fromUtf8(s); }

// The two lists whose ids differ between the pages go under these keys.
constexpr int kTxPowerKey = -1;
constexpr int kUartMapKey = -2;

res::FormListIds ListsOf(const SimAndTool& app, const QWidget& page) {
  return &page == &app.Serial() ? res::kSerialFormLists : res::kNetworkFormLists;
}

// Everything the engineer sees of the form, including which boxes the rules disabled.
std::map<int, QString> Snapshot(const SimAndTool& app, const QWidget& page) {
  const res::FormListIds lists = ListsOf(app, page);
  std::map<int, int> ids{{kTxPowerKey, lists.tx_power}, {kUartMapKey, lists.uart_map}};
  for (int id : {1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1018, 1019, 1020, 1021,
                 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1053, 1054, 1056})
    ids[id] = id;
  std::map<int, QString> s;
  for (const auto& [key, id] : ids) {
    QWidget* w = SimAndTool::Ctl(page, id);
    QString v;
    if (auto* ip = qobject_cast<IpAddressEdit*>(w)) v = ip->text();
    else if (auto* e = qobject_cast<QLineEdit*>(w)) v = e->text();
    else if (auto* c = qobject_cast<QComboBox*>(w)) v = QString::number(ListPosition(c)) + ':' + c->currentText();
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) v = b->isChecked() ? "checked" : "clear";
    else if (auto* l = qobject_cast<QLabel*>(w)) v = l->text();
    s[key] = v + (w->isEnabled() ? "" : " (disabled)");
  }
  return s;
}

struct Direction {
  const char* name;
  bool serial_writes;  // else the network page writes and the serial page reads
  bool hex_packets;
};
void PrintTo(const Direction& d, std::ostream* os) { *os << d.name; }

class ConfigAcrossLinks : public ::testing::TestWithParam<Direction> {};

// Every field away from its default. The record carries a server either as an address or
// as a domain name, so one direction logs in by names (the addresses travel as zeros) and
// the other by addresses; one sends text packets, the other hexadecimal ones.
void FillForm(SimAndTool& app, QWidget& page, bool hex) {
  const res::FormListIds lists = ListsOf(app, page);
  qobject_cast<ConfigFormPage*>(&page)->SetClock([] { return LocalTime{2024, 7, 1, 9, 30, 12, 345}; });
  app.TypeAddress(page, 1006, "172.16.8.20");
  app.TypeAddress(page, 1007, "255.255.252.0");
  app.TypeAddress(page, 1008, "172.16.8.1");
  app.Type(page, 1018, "4059");
  app.Choose(page, 1004, hex ? "UDP Client" : "TCP Server");
  if (hex) {
    app.TypeAddress(page, 1009, "198.51.100.40");
    app.TypeAddress(page, 1010, "203.0.113.77");
    app.Type(page, 1020, "9001");
    app.Type(page, 1022, "0");
  } else {
    app.TypeAddress(page, 1009, "0.0.0.0");
    app.Type(page, 1019, U("采集网关.example.cn"));
    app.TypeAddress(page, 1010, "0.0.0.0");
    app.Type(page, 1020, "0");
    app.Type(page, 1023, U("物联网平台.example.net"));
    app.Type(page, 1022, "1883");
  }
  app.TypeAddress(page, 1011, "192.0.2.200");
  app.Type(page, 1021, "65000");
  app.Type(page, 1024, "470.25");
  app.Choose(page, 1012, "10s");
  app.Type(page, 1025, "201");
  app.Choose(page, 1005, "16ms");
  app.Choose(page, lists.tx_power, "Level6");
  app.Choose(page, 1013, "4800");
  app.Choose(page, 1014, "EVEN");
  app.Choose(page, 1015, "RS232");
  app.Choose(page, lists.uart_map, hex ? "IP1_4G" : "LORA");
  if (hex) {
    app.Click(page, 1054);
    app.Type(page, 1026, "AA 55 00 FF 7E ");
    app.Type(page, 1027, "01 02 03 04 05 06 07 08 ");
  } else {
    app.Type(page, 1026, U("心跳ping"));
    app.Type(page, 1027, U("注册:DTU-0042"));
  }
  app.Click(page, 1032);  // the MAC address from the page's clock
}

TEST_P(ConfigAcrossLinks, WrittenOnOnePageIsKeptByTheDeviceAndReadBackIntoEveryControlOfTheOther) {
  const Direction& d = GetParam();
  SimAndTool app;
  app.StartSim();
  app.OpenSerialToSim();
  app.OpenUdpToSim();
  QWidget& writer = d.serial_writes ? static_cast<QWidget&>(app.Serial()) : app.Network();
  QWidget& reader = d.serial_writes ? static_cast<QWidget&>(app.Network()) : app.Serial();

  FillForm(app, writer, d.hex_packets);
  const auto written = Snapshot(app, writer);
  ASSERT_NE(Snapshot(app, reader), written);

  // The device echoes what it stored; the writing page shows it unchanged.
  ASSERT_TRUE(app.Command(writer, 1033)) << app.LogText().toStdString();
  EXPECT_EQ(Snapshot(app, writer), written);
  const ConfigRecord encoded = EncodeConfig(qobject_cast<ConfigFormPage*>(&writer)->ReadForm());
  EXPECT_EQ(app.StoredRecord("config"), AsBytes(encoded));

  // The HEX box decides how packets are shown: the engineer sets it before reading.
  if (d.hex_packets) app.Click(reader, 1054);
  ASSERT_TRUE(app.Command(reader, 1034)) << app.LogText().toStdString();
  EXPECT_EQ(Snapshot(app, reader), written);

  const QString writer_prefix = U(d.serial_writes ? "串口" : "UDP");
  const QString reader_prefix = U(d.serial_writes ? "UDP" : "串口");
  EXPECT_EQ(app.CountLines(writer_prefix + U("发送:F5 80 E1 DD ")), 1);
  EXPECT_EQ(app.CountLines(writer_prefix + U("接收:F5 00 E1 DD ")), 1);
  EXPECT_EQ(app.CountLines(reader_prefix + U("发送:F5 80 E2 00 57 0D ")), 1);
  EXPECT_EQ(app.CountLines(reader_prefix + U("接收:F5 00 E2 DD ")), 1);

  const auto counts = app.sim.Stop();
  EXPECT_TRUE(counts.complete);
  EXPECT_EQ(counts.Get("rx.E1"), 1u);
  EXPECT_EQ(counts.Get("rx.E2"), 1u);
  EXPECT_EQ(counts.Get("malformed"), 0u);
}

INSTANTIATE_TEST_SUITE_P(E2e, ConfigAcrossLinks,
                         ::testing::Values(Direction{"SerialWritesUdpReads", true, false},
                                           Direction{"UdpWritesSerialReadsHex", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MqttOverTheSim, WrittenOverUdpIsReadBackOverSerialIntoTheControls) {
  SimAndTool app;
  app.StartSim();
  auto* page = qobject_cast<MqttPage*>(app.window->Page(MainWindow::kMqttPage));
  ASSERT_NE(page, nullptr);
  app.OpenUdpToSim();
  app.window->ShowPage(MainWindow::kMqttPage);

  auto* map = qobject_cast<QComboBox*>(FindControl(page, 1000));
  auto edit = [&](int id) { return qobject_cast<LineEdit*>(FindControl(page, id)); };
  auto shown = [&] {
    return QStringList{map->currentText(), edit(1007)->text(), edit(1008)->text(), edit(1009)->text()};
  };
  auto click = [&](int id) {
    auto* b = qobject_cast<QAbstractButton*>(FindControl(page, id));
    app.window->SetStatusText(QString());
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    return WaitUntil([&] { return app.window->StatusText() == QLatin1String("Successful!"); }, test::kReplyTimeout);
  };

  map->setCurrentIndex(map->findText("ENET_TCP"));
  for (auto [id, text] : {std::pair{1007, U("a1Xk9PqRst0")}, std::pair{1008, U("泵站_07号")},
                          std::pair{1009, QString(64, QLatin1Char('S'))}}) {
    edit(id)->setFocus();
    edit(id)->selectAll();
    test::TypeText(edit(id), text);
  }
  const QStringList written = shown();
  ASSERT_EQ(written, (QStringList{"ENET_TCP", "a1Xk9PqRst0", U("泵站_07号"), QString(64, QLatin1Char('S'))}));

  // Serial closed: the page sends over UDP.
  ASSERT_TRUE(click(1019)) << app.LogText().toStdString();
  EXPECT_EQ(app.CountLines(U("UDP发送:F5 80 E6 81 ")), 1);
  EXPECT_EQ(app.StoredRecord("mqtt"), AsBytes(EncodeMqtt(page->Credentials())));
  EXPECT_EQ(shown(), written);

  map->setCurrentIndex(0);
  for (int id : {1007, 1008, 1009}) edit(id)->clear();
  app.OpenSerialToSim();
  app.window->ShowPage(MainWindow::kMqttPage);
  ASSERT_TRUE(click(1020)) << app.LogText().toStdString();
  EXPECT_EQ(app.CountLines(U("串口发送:F5 80 E7 00 5C 0D ")), 1);
  EXPECT_EQ(app.CountLines(U("串口接收:F5 00 E7 81 ")), 1);
  EXPECT_EQ(shown(), written);

  const auto counts = app.sim.Stop();
  EXPECT_EQ(counts.Get("rx.E6"), 1u);
  EXPECT_EQ(counts.Get("rx.E7"), 1u);
}

TEST(DeviceQueries, VersionCsqAndClockSyncOverBothLinks) {
  SimAndTool app;
  app.StartSim({"--version", U("网关DTU V3.1"), "--csq", "17"});
  app.OpenSerialToSim();
  app.OpenUdpToSim();
  const LocalTime when{2024, 12, 31, 23, 59, 58, 999};
  app.Serial().SetClock([&] { return when; });
  app.Network().SetClock([&] { return when; });

  ASSERT_TRUE(app.Command(app.Serial(), 1035));
  ASSERT_TRUE(app.Command(app.Serial(), 1050));
  EXPECT_TRUE(app.LogLines().contains(U("读取版本成功. ")));
  EXPECT_TRUE(app.LogLines().contains(U("网关DTU V3.1")));
  EXPECT_TRUE(app.LogLines().contains(U("获取CSQ成功,CSQ:17 ")));

  // The device receives the PC's local time as BCD and answers it back.
  for (QWidget* page : {static_cast<QWidget*>(&app.Serial()), static_cast<QWidget*>(&app.Network())}) {
    ASSERT_TRUE(app.Command(*page, 1055));
  }
  EXPECT_EQ(app.CountLines(U("同步时钟成功: 24-12-31 23:59:58 ")), 2);
  EXPECT_EQ(app.sim.CountLines("serial rx EC len 6 | F5 80 EC 06 24 12 31 23 59 58"), 1);
  EXPECT_EQ(app.sim.CountLines("udp rx EC len 6 | F5 80 EC 06 24 12 31 23 59 58"), 1);
}

}  // namespace
}  // namespace velmora
