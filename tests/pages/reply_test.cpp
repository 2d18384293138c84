// Round trips with a scripted device, and what each reply does to the page.

#include <map>
#include <memory>

#include "config/config_defaults.h"
#include "page_harness.h"
#include "protocol/gbk.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;
using test::PtyPair;
using test::Reply;
using test::UdpDevice;
using namespace std::chrono_literals;

QString U(const char* s) { return QString::fromUtf8(s); }

// The other end of a page's link.
class Device {
 public:
  virtual ~Device() = default;
  virtual Bytes Read(std::size_t count) = 0;
  virtual void Send(const Bytes& bytes) = 0;
};

class SerialDevice : public Device {
 public:
  explicit SerialDevice(PtyPair& pty) : pty_(pty) {}
  Bytes Read(std::size_t count) override { return pty_.ReadMaster(count, 3s); }
  void Send(const Bytes& bytes) override { ASSERT_TRUE(pty_.WriteMaster(bytes)); }

 private:
  PtyPair& pty_;
};

class NetworkDevice : public Device {
 public:
  explicit NetworkDevice(UdpDevice& udp, quint16 tool_port) : udp_(udp), tool_port_(tool_port) {}
  Bytes Read(std::size_t) override { return udp_.Receive(); }
  void Send(const Bytes& bytes) override { udp_.Send(bytes, tool_port_); }

 private:
  UdpDevice& udp_;
  quint16 tool_port_;
};

// Everything the engineer sees of the form, by control id.
std::map<int, QString> Snapshot(const PageHarness& app, const QWidget& page, res::FormListIds lists) {
  std::map<int, QString> s;
  const int ids[] = {1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1018, 1019, 1020,
                     1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1053, 1054, 1056, lists.tx_power, lists.uart_map};
  for (int id : ids) {
    QWidget* w = app.Ctl(page, id);
    QString v;
    if (auto* ip = qobject_cast<IpAddressEdit*>(w)) v = ip->text();
    else if (auto* e = qobject_cast<QLineEdit*>(w)) v = e->text();
    else if (auto* c = qobject_cast<QComboBox*>(w)) v = QString::number(ListPosition(c)) + ':' + c->currentText();
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) v = b->isChecked() ? "checked" : "clear";
    else if (auto* l = qobject_cast<QLabel*>(w)) v = l->text();
    s[id] = v + (w->isEnabled() ? "" : " (disabled)");
  }
  return s;
}

// What an engineer enters: every field away from its default, texts in Chinese and
// ASCII, hexadecimal packets, a generated MAC address.
void FillForm(PageHarness& app, QWidget& page, res::FormListIds lists) {
  app.TypeAddress(page, 1006, "10.0.0.20");
  app.TypeAddress(page, 1007, "255.255.0.0");
  app.TypeAddress(page, 1008, "10.0.0.1");
  app.TypeAddress(page, 1009, "0.0.0.0");  // a domain login takes the server's place
  app.Type(page, 1018, "5020");
  app.Choose(page, 1004, "UDP Client");
  app.Type(page, 1019, U("网关.example.cn"));
  app.Type(page, 1023, "iot.example.net");
  app.Type(page, 1022, "8883");
  app.TypeAddress(page, 1010, "0.0.0.0");
  app.Type(page, 1020, "0");
  app.TypeAddress(page, 1011, "198.51.100.7");
  app.Type(page, 1021, "6000");
  app.Type(page, 1024, "433.50");
  app.Choose(page, 1012, "8s");
  app.Type(page, 1025, "17");
  app.Choose(page, 1005, "64ms");
  app.Choose(page, lists.tx_power, "Level2");
  app.Choose(page, 1013, "115200");
  app.Choose(page, 1014, "ODD");
  app.Choose(page, 1015, "RS485");
  app.Choose(page, lists.uart_map, U("以太网"));
  app.Click(page, 1054);
  app.Type(page, 1026, "01 02 0A ");
  app.Type(page, 1027, "31 32 33 ");
  app.Click(page, 1032);
}

// Write, the device echoes the record; read an empty record; read the record again.
void RoundTrip(PageHarness& app, QWidget& page, res::FormListIds lists, Device& device, const QString& prefix) {
  FillForm(app, page, lists);
  const auto typed = Snapshot(app, page, lists);

  app.Click(page, 1033);
  const Bytes frame = device.Read(227);
  ASSERT_EQ(frame.size(), 227u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xF5, 0x80, 0xE1, 0xDD}));
  EXPECT_EQ(frame[225], Checksum8(std::span(frame).first(225)));
  EXPECT_EQ(frame[226], 0x0D);
  const Bytes record(frame.begin() + 4, frame.begin() + 225);
  const std::string domain = ToGbk(U("网关.example.cn"));
  EXPECT_EQ(std::string(record.begin() + 20, record.begin() + 20 + static_cast<long>(domain.size())), domain);
  EXPECT_EQ(Bytes(record.begin() + 160, record.begin() + 163), (Bytes{0x6C, 0x60, 0x12}));
  EXPECT_EQ(record[19], 3);   // UDP Client, 1-based
  EXPECT_EQ(record[168], 8);  // 115200, 1-based
  EXPECT_EQ(Bytes(record.begin() + 171, record.begin() + 175), (Bytes{3, 0x01, 0x02, 0x0A}));
  EXPECT_EQ(app.LogLines().back().left(prefix.size()), prefix);

  device.Send(Reply(0xE1, record));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  EXPECT_EQ(Snapshot(app, page, lists), typed);

  app.Click(page, 1034);
  EXPECT_EQ(device.Read(6), (Bytes{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D}));
  EXPECT_EQ(app.window->StatusText(), "....");
  device.Send(Reply(0xE2, {}));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  for (int id : {1006, 1007, 1008, 1009, 1010, 1011}) EXPECT_EQ(app.Ip(page, id)->text(), "0.0.0.0") << id;
  EXPECT_EQ(ListPosition(app.Combo(page, 1004)), -1);
  EXPECT_EQ(ListPosition(app.Combo(page, 1013)), -1);
  EXPECT_EQ(app.Combo(page, 1012)->currentText(), "2s");
  EXPECT_EQ(app.Edit(page, 1024)->text(), "0.00");
  EXPECT_EQ(app.Edit(page, 1026)->text(), "01 02 0A ");  // absent in the record: kept
  EXPECT_EQ(app.Edit(page, 1028)->text(), "00 00 00 00 00 00 ");

  app.Click(page, 1034);
  EXPECT_EQ(device.Read(6).size(), 6u);
  device.Send(Reply(0xE2, record));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  EXPECT_EQ(Snapshot(app, page, lists), typed);
}

TEST(RoundTrip, SerialPageWritesAndReadsBackEveryControlOverAPseudoTerminal) {
  PageHarness app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  SerialDevice device(pty);
  RoundTrip(app, app.Serial(), res::kSerialFormLists, device, U("串口发送:"));
  EXPECT_EQ(app.CountLines(U("UDP发送:")), 0);
}

TEST(RoundTrip, NetworkPageWritesAndReadsBackEveryControlOverLoopback) {
  PageHarness app;
  UdpDevice udp(app.udp_device_port);
  ASSERT_TRUE(udp.Bound());
  app.OpenNetworkOnLoopback();
  NetworkDevice device(udp, app.udp_local_port);
  RoundTrip(app, app.Network(), res::kNetworkFormLists, device, U("UDP发送:"));
  EXPECT_EQ(app.CountLines(U("串口发送:")), 0);
}

// Replies arriving at the network page from a loopback device.
class Replies : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(udp.Bound());
    app.OpenNetworkOnLoopback();
  }
  // Sends one reply and waits until the pump has handed it over.
  void Deliver(const Bytes& frame) {
    const int logged = app.CountLines(U("UDP接收:"));
    udp.Send(frame, app.udp_local_port);
    ASSERT_TRUE(test::WaitUntil([&] { return app.CountLines(U("UDP接收:")) == logged + 1; }));
  }
  // Log lines written after the pump's own line for the last reply.
  QStringList PageLines() {
    const QStringList all = app.LogLines();
    int last = -1;
    for (int i = 0; i < all.size(); ++i) {
      if (all[i].startsWith(U("UDP接收:"))) last = i;
    }
    return all.mid(last + 1);
  }
  Bytes Record(const std::function<void(ConfigRecord&)>& change) {
    ConfigRecord r = EncodeConfig(DefaultConfigForm());
    change(r);
    return Bytes(r.begin(), r.end());
  }

  PageHarness app;
  UdpDevice udp{app.udp_device_port};
  QWidget& page = app.Network();
};

TEST_F(Replies, ModeAndDhcpRulesRunAsIfTheEngineerHadChangedThem) {
  Deliver(Reply(0xE2, Record([](ConfigRecord& r) {
    r[19] = 2;  // TCP Server
    r[18] = 1;  // DHCP
    r[168] = 0; // no UART rate
  })));
  EXPECT_EQ(app.Combo(page, 1004)->currentText(), "TCP Server");
  EXPECT_FALSE(app.Ctl(page, 1009)->isEnabled());
  EXPECT_FALSE(app.Ctl(page, 1019)->isEnabled());
  EXPECT_EQ(app.Label(page, 1056)->text(), U("本地端口"));
  EXPECT_TRUE(app.Button(page, 1053)->isChecked());
  for (int id : {1006, 1007, 1008}) EXPECT_FALSE(app.Ctl(page, id)->isEnabled()) << id;
  EXPECT_EQ(ListPosition(app.Combo(page, 1013)), -1);
  EXPECT_TRUE(app.Combo(page, 1013)->currentText().isEmpty());
  EXPECT_EQ(app.window->StatusText(), "Successful!");

  // The same mode again still runs the rule; another mode undoes it.
  Deliver(Reply(0xE1, Record([](ConfigRecord& r) { r[19] = 1; })));
  EXPECT_TRUE(app.Ctl(page, 1009)->isEnabled());
  EXPECT_TRUE(app.Ctl(page, 1006)->isEnabled());
  EXPECT_FALSE(app.Button(page, 1053)->isChecked());
  EXPECT_EQ(app.Label(page, 1056)->text(), U("目标端口"));
}

TEST_F(Replies, PacketsShowAsHexOrTextAndAnEmptyOneKeepsTheBox) {
  const Bytes packets = Record([](ConfigRecord& r) {
    r[171] = 2, r[172] = '4', r[173] = 'G';
    r[182] = 3, r[183] = 0xC9, r[184] = 0xE8, r[185] = '1';  // "设1" in GBK
  });
  Deliver(Reply(0xE2, packets));
  EXPECT_EQ(app.Edit(page, 1026)->text(), "4G");
  EXPECT_EQ(app.Edit(page, 1027)->text(), U("设1"));
  app.Click(page, 1054);
  Deliver(Reply(0xE2, packets));
  EXPECT_EQ(app.Edit(page, 1026)->text(), "34 47 ");
  EXPECT_EQ(app.Edit(page, 1027)->text(), "C9 E8 31 ");

  app.Type(page, 1026, "AA BB");
  app.Type(page, 1027, "CC");
  Deliver(Reply(0xE2, Record([](ConfigRecord&) {})));
  EXPECT_EQ(app.Edit(page, 1026)->text(), "AA BB");
  EXPECT_EQ(app.Edit(page, 1027)->text(), "CC");
}

TEST_F(Replies, VersionResetCsqAndClockAreLogged) {
  Bytes version{'V', '1', '.', '2', 0, 'x'};
  Deliver(Reply(0xE3, version));
  EXPECT_EQ(PageLines(), (QStringList{U("读取版本成功. "), "V1.2"}));
  EXPECT_EQ(app.window->StatusText(), "Successful!");

  // Longer than 127 bytes: the whole text, nothing beyond the frame.
  const Bytes long_version(200, 'v');
  Deliver(Reply(0xE3, long_version));
  EXPECT_EQ(PageLines(), (QStringList{U("读取版本成功. "), QString(200, QLatin1Char('v'))}));

  Deliver(Reply(0xE4, {}));
  EXPECT_EQ(PageLines(), QStringList{U("软件复位成功. ")});
  Deliver(Reply(0xEB, {0x1F}));
  EXPECT_EQ(PageLines(), QStringList{U("获取CSQ成功,CSQ:31 ")});
  Deliver(Reply(0xEC, {0x26, 0x12, 0x08, 0x06, 0x19, 0x23}));
  EXPECT_EQ(PageLines(), QStringList{U("同步时钟成功: 26-12-08 06:19:23 ")});
  EXPECT_EQ(app.window->StatusText(), "Successful!");
}

TEST_F(Replies, ShortCsqAndClockRepliesAreReportedNotInvented) {
  app.window->SetStatusText("....");
  Deliver(Reply(0xEB, {}));  // the byte after the length is the checksum, not a reading
  EXPECT_EQ(PageLines(), QStringList{U("获取CSQ应答不完整: 没有CSQ数据. ")});
  EXPECT_EQ(app.window->StatusText(), "....");

  // A full clock reply first leaves its bytes in the receive buffer; a short one that
  // claims six bytes must not show them.
  Deliver(Reply(0xEC, {0x21, 0x03, 0x09, 0x14, 0x05, 0x59}));
  app.window->SetStatusText("....");
  Deliver(Bytes{0xF5, 0x00, 0xEC, 0x06, 0x26, 0x12, 0x0D});
  EXPECT_EQ(PageLines(), QStringList{U("同步时钟应答不完整: 只有2字节. ")});
  EXPECT_EQ(app.window->StatusText(), "....");
}

TEST_F(Replies, FirmwareRepliesAreHandedOnAndOtherCodesIgnored) {
  app.window->SetStatusText("....");
  const auto before = Snapshot(app, page, res::kNetworkFormLists);
  for (uint8_t code : {0xE8, 0xE9, 0xEA, 0x01}) {
    Deliver(Reply(code, {0x01, 0x02}));
    EXPECT_TRUE(PageLines().isEmpty()) << int(code);
    EXPECT_EQ(app.window->StatusText(), "....") << int(code);
  }
  EXPECT_EQ(Snapshot(app, page, res::kNetworkFormLists), before);
  Deliver(Reply(0xE5, {'O', 'K'}));
  EXPECT_TRUE(PageLines().isEmpty());
  EXPECT_EQ(app.window->StatusText(), "Successful!");
}

TEST(Routing, AConfigurationReplyOverSerialReachesOnlyTheSerialPage) {
  PageHarness app;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  UdpDevice udp(app.udp_device_port);
  ASSERT_TRUE(udp.Bound());
  app.OpenSerialOn(pty);
  app.OpenNetworkOnLoopback();
  const auto network_before = Snapshot(app, app.Network(), res::kNetworkFormLists);

  ConfigRecord r = EncodeConfig(DefaultConfigForm());
  r[19] = 2;
  r[166] = 1;  // Level2
  ASSERT_TRUE(pty.WriteMaster(Reply(0xE2, Bytes(r.begin(), r.end()))));
  ASSERT_TRUE(app.WaitForStatus("Successful!"));
  EXPECT_EQ(app.Combo(app.Serial(), 1004)->currentText(), "TCP Server");
  EXPECT_EQ(app.Combo(app.Serial(), 1016)->currentText(), "Level2");
  EXPECT_EQ(Snapshot(app, app.Network(), res::kNetworkFormLists), network_before);

}

}  // namespace
}  // namespace velmora
