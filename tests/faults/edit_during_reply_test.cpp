// A reply arrives while the engineer is typing somewhere. The page it is for takes the
// device's record into its form; nothing else changes, the keyboard focus stays where
// the engineer was typing, and the rest of the typing lands there too.

#include <QPlainTextEdit>

#include <map>
#include <memory>

#include "widgets/dialog_builder.h"
#include "widgets/log_pane.h"
#include "fota/ui/firmware_dialog.h"
#include "mqtt/mqtt_record.h"
#include "mqtt/ui/mqtt_page.h"
#include "pages/page_harness.h"
#include "protocol/gbk.h"
#include "resources/mqtt_layout.h"

namespace velmora {
namespace {

using test::Bytes;
using test::PageHarness;
using test::PtyPair;
using test::Reply;
using test::UdpDevice;
using namespace std::chrono_literals;

QString U(const char* s) { return QString::fromUtf8(s); }

// What the engineer sees of every numbered control under `root`, by control id.
using Shown = std::map<int, std::string>;

Shown Everything(const QWidget& root) {
  Shown s;
  for (const QWidget* w : root.findChildren<QWidget*>()) {
    const int id = ControlId(w);
    if (id == res::kNoId) continue;
    QString v;
    if (auto* ip = qobject_cast<const IpAddressEdit*>(w)) v = ip->text();
    else if (auto* e = qobject_cast<const QLineEdit*>(w)) v = e->text();
    else if (auto* c = qobject_cast<const QComboBox*>(w)) v = QString::number(c->currentIndex()) + ':' + c->currentText();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w)) v = b->text() + (b->isChecked() ? "[x]" : "[ ]");
    else if (auto* l = qobject_cast<const QLabel*>(w)) v = l->text();
    else continue;
    s[id] = (v + (w->isEnabled() ? "" : " (disabled)")).toStdString();
  }
  return s;
}

// The controls a configuration reply may rewrite, by page.
std::vector<int> FormIds(res::FormListIds lists) {
  return {1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1018, 1019, 1020,
          1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1053, 1056, lists.tx_power, lists.uart_map};
}

Shown Without(Shown s, const std::vector<int>& ids) {
  for (int id : ids) s.erase(id);
  return s;
}

// A record unlike the defaults in every field, with the rules that disable controls on.
ConfigForm DeviceRecord() {
  ConfigForm f;
  f.local_ip = {10, 1, 2, 3};
  f.subnet_mask = {255, 255, 0, 0};
  f.gateway = {10, 1, 0, 1};
  f.dhcp = true;
  f.server_ip = {47, 9, 8, 7};
  f.eth_port = "6100";
  f.net_mode = 1;  // TCP Server
  f.domain = ToGbk(U("设备.example.cn"));
  f.ip0_domain = "iot.example.net";
  f.ip0_domain_port = "8883";
  f.ip1_addr = {47, 1, 1, 1};
  f.ip1_port = "9001";
  f.lora_freq = "470.50";
  f.sleep_time = 2;
  f.breathe_time = 1;
  f.lora_net_addr = "12";
  f.tx_power = 3;
  f.uart_baud = 7;
  f.uart_parity = 2;
  f.uart_mode = 2;
  f.uart_map = 4;
  f.heartbeat = ToGbk(U("在线"));
  f.register_data = "REG";
  f.mac = "02 11 22 33 44 56 ";
  return f;
}

Bytes ConfigReply(const ConfigForm& form) {
  const ConfigRecord r = EncodeConfig(form);
  return Reply(0xE2, Bytes(r.begin(), r.end()));
}

struct Editing : PageHarness {
  UdpDevice device{udp_device_port};
  PtyPair pty;

  Editing() {
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(device.Bound());
    EXPECT_TRUE(pty.Ok());
  }

  MqttPage& Mqtt() const { return *qobject_cast<MqttPage*>(window->Page(MainWindow::kMqttPage)); }

  // Every page and the Log pane, as the engineer sees them.
  struct Seen {
    Shown serial, network, mqtt;
    QString log;
  };
  Seen Look() {
    return {Everything(Serial()), Everything(Network()), Everything(Mqtt()), window->Log()->AllText()};
  }

  // Keys go where the keyboard focus is, as a real keyboard's do.
  void TypeAtFocus(const QString& text) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "nothing has the keyboard focus";
    test::TypeText(w, text);
  }

  // The network page asks for its configuration; the device's answer is held back.
  void AskOverUdp() {
    OpenNetworkOnLoopback();
    Click(Network(), 1034);
    ASSERT_EQ(device.Receive(), (Bytes{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D}));
  }
  // The serial page asks for its configuration; the device's answer is held back.
  void AskOverSerial() {
    OpenSerialOn(pty);
    Click(Serial(), 1034);
    ASSERT_EQ(pty.ReadMaster(6, 3s), (Bytes{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D}));
  }
  void Answer(const Bytes& reply, bool over_udp) {
    window->SetStatusText({});
    if (over_udp) device.Send(reply);
    else ASSERT_TRUE(pty.WriteMaster(reply));
    ASSERT_TRUE(WaitForStatus("Successful!"));
  }
};

// Where the engineer is typing, and how to check it afterwards.
struct Place {
  const char* name;
  std::function<QWidget*(Editing&)> focus;  // puts the caret there, returns the widget
  QString first, second;                    // typed before and after the reply
  std::function<QString(Editing&)> text;    // what the place holds
  std::function<int(Editing&)> caret;       // where the caret is in it
};

QLineEdit* FocusLine(QLineEdit* e) {
  e->setFocus(Qt::MouseFocusReason);
  e->end(false);
  return e;
}

// The engineer clicks into a box and replaces what it holds.
QLineEdit* FocusEmptied(QLineEdit* e) {
  FocusLine(e);
  e->selectAll();
  QTest::keyClick(e, Qt::Key_Delete);
  return e;
}

std::vector<Place> PlacesOffTheNetworkForm() {
  return {
      {"serial link row: port list",
       [](Editing& a) -> QWidget* {
         a.TypeInList(a.Serial(), 1000, "");
         QComboBox* ports = a.Combo(a.Serial(), 1000);
         ports->setFocus(Qt::MouseFocusReason);  // the list passes the keys to its text field
         return ports;
       },
       "/dev/tty", "USB3", [](Editing& a) { return a.Combo(a.Serial(), 1000)->currentText(); },
       [](Editing& a) { return a.Combo(a.Serial(), 1000)->lineEdit()->cursorPosition(); }},
      {"serial page form",
       [](Editing& a) {
         a.Show(a.Serial());
         return FocusEmptied(a.Edit(a.Serial(), 1019));
       },
       U("网关"), U(".本地"), [](Editing& a) { return a.Edit(a.Serial(), 1019)->text(); },
       [](Editing& a) { return a.Edit(a.Serial(), 1019)->cursorPosition(); }},
      {"MQTT page",
       [](Editing& a) {
         a.window->ShowPage(MainWindow::kMqttPage);
         return FocusEmptied(a.Mqtt().Controls().Edit(res::kIdcProductKey));
       },
       "a1B2", "c3D4", [](Editing& a) { return a.Mqtt().Controls().Edit(res::kIdcProductKey)->text(); },
       [](Editing& a) { return a.Mqtt().Controls().Edit(res::kIdcProductKey)->cursorPosition(); }},
      {"Log pane",
       [](Editing& a) -> QWidget* {
         LogPane* log = a.window->Log();
         log->Flush();  // what the engineer sees when clicking behind the last entry
         log->setFocus(Qt::MouseFocusReason);
         log->SetCaret(log->toPlainText().size());
         return log;
       },
       U("备注:"), U("重试"), [](Editing& a) { return a.window->Log()->AllText(); },
       [](Editing& a) { return static_cast<int>(a.window->Log()->CaretPosition()); }},
  };
}

TEST(EditDuringReply, NetworkReplyTouchesOnlyTheNetworkFormWhereverTheEngineerTypes) {
  for (const Place& place : PlacesOffTheNetworkForm()) {
    SCOPED_TRACE(place.name);
    Editing app;
    app.AskOverUdp();
    QWidget* typing = place.focus(app);
    ASSERT_EQ(QApplication::focusWidget(), typing);
    app.TypeAtFocus(place.first);
    const Editing::Seen before = app.Look();

    app.Answer(ConfigReply(DeviceRecord()), true);
    EXPECT_EQ(QApplication::focusWidget(), typing) << "the focus stayed";
    app.TypeAtFocus(place.second);
    const Editing::Seen after = app.Look();

    // The reply's own page: the device's record in the form, the link row untouched.
    const auto form = FormIds(res::kNetworkFormLists);
    EXPECT_EQ(Without(after.network, form), Without(before.network, form));
    EXPECT_EQ(app.Network().ReadForm().eth_port, "6100");
    EXPECT_EQ(app.Edit(app.Network(), 1026)->text(), U("在线"));
    EXPECT_FALSE(app.Ctl(app.Network(), 1019)->isEnabled());

    // Everything else as it was, except the typing itself, which is whole.
    QString typed = place.text(app);
    const int caret = place.caret(app);
    ASSERT_GE(caret, place.second.size());
    EXPECT_EQ(typed.mid(caret - place.second.size(), place.second.size()), place.second)
        << "the caret is behind the engineer's last keys: " << typed.toStdString();
    if (typing == app.window->Log()) {
      // Entries go to the end, behind the note; the note stays in one piece.
      EXPECT_TRUE(typed.startsWith(before.log + place.second)) << typed.toStdString();
      EXPECT_TRUE(typed.mid(caret).startsWith(U("[2021-03-09 14:05:59 7] \nUDP接收:F5 00 E2 DD ")));
    } else {
      EXPECT_EQ(typed, place.first + place.second);
      EXPECT_EQ(caret, typed.size());
      EXPECT_EQ(after.log.count(U("UDP接收:")), 1);
    }
    auto unchanged = [&](const Shown& b, const Shown& a, const QWidget& page) {
      for (const auto& [id, v] : b) {
        if (FindControl(&page, id) == typing) continue;
        EXPECT_EQ(a.at(id), v) << "control " << id;
      }
    };
    unchanged(before.serial, after.serial, app.Serial());
    unchanged(before.mqtt, after.mqtt, app.Mqtt());
  }
}

TEST(EditDuringReply, ConfigurationReplyLeavesTheFirmwarePathBeingTyped) {
  Editing app;
  app.AskOverUdp();
  app.Click(app.Network(), 1037);
  FirmwareDialog* fota = app.window->Firmware();
  ASSERT_NE(fota, nullptr);
  auto* path = qobject_cast<QLineEdit*>(FindControl(fota, 1007));
  fota->activateWindow();
  path->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(test::WaitUntil([&] { return QApplication::focusWidget() == path; }));
  app.TypeAtFocus(U("/固件/"));
  const Editing::Seen before = app.Look();
  const auto labels = Everything(*fota);

  app.Answer(ConfigReply(DeviceRecord()), true);
  EXPECT_EQ(QApplication::focusWidget(), path);
  app.TypeAtFocus("v2.bin");
  EXPECT_EQ(path->text(), U("/固件/v2.bin"));
  EXPECT_EQ(path->cursorPosition(), path->text().size());
  EXPECT_EQ(Without(Everything(*fota), {1007}), Without(labels, {1007}));
  EXPECT_EQ(app.Look().serial, before.serial);
  EXPECT_EQ(app.Look().mqtt, before.mqtt);
  EXPECT_EQ(app.Network().ReadForm().eth_port, "6100");
}

TEST(EditDuringReply, SerialReplyLeavesTheNetworkAddressBeingTypedAndTheOtherForm) {
  Editing app;
  app.AskOverSerial();
  app.Show(app.Network());
  IpAddressEdit* address = app.Ip(app.Network(), 1016);
  address->Clear();
  QLineEdit* first = address->Field(0);
  first->setFocus(Qt::MouseFocusReason);
  app.TypeAtFocus("19");
  const Editing::Seen before = app.Look();

  app.Answer(ConfigReply(DeviceRecord()), false);
  EXPECT_EQ(QApplication::focusWidget(), first);
  app.TypeAtFocus("2");
  EXPECT_EQ(address->text(), "192.0.0.0");
  EXPECT_EQ(Without(app.Look().network, {1016}), Without(before.network, {1016}));
  EXPECT_EQ(app.Look().mqtt, before.mqtt);
  EXPECT_EQ(Without(app.Look().serial, FormIds(res::kSerialFormLists)),
            Without(before.serial, FormIds(res::kSerialFormLists)));
  EXPECT_EQ(app.Serial().ReadForm().eth_port, "6100");
}

TEST(EditDuringReply, MqttReplyLeavesBothConfigurationFormsAlone) {
  Editing app;
  app.OpenNetworkOnLoopback();
  app.window->ShowPage(MainWindow::kMqttPage);
  app.Mqtt().Controls().Button(res::kIdcReadMqtt)->click();
  ASSERT_EQ(app.device.Receive(), (Bytes{0xF5, 0x80, 0xE7, 0x00, 0x5C, 0x0D}));

  app.Show(app.Network());
  QWidget* typing = FocusLine(app.Edit(app.Network(), 1027));
  app.TypeAtFocus("RE");
  const Editing::Seen before = app.Look();

  MqttCredentials c;
  c.port_map = 1;
  c.product_key = "pk-device";
  c.device_name = ToGbk(U("设备一"));
  c.device_secret = "s3cret";
  const MqttRecordBytes record = EncodeMqtt(c);
  app.Answer(Reply(0xE7, Bytes(record.begin(), record.end())), true);
  EXPECT_EQ(QApplication::focusWidget(), typing);
  app.TypeAtFocus("G");

  const Editing::Seen after = app.Look();
  EXPECT_EQ(app.Edit(app.Network(), 1027)->text(), "REG");
  EXPECT_EQ(Without(after.network, {1027}), Without(before.network, {1027}));
  EXPECT_EQ(after.serial, before.serial);
  EXPECT_EQ(app.Mqtt().Controls().Edit(res::kIdcProductKey)->text(), "pk-device");
  EXPECT_EQ(app.Mqtt().Controls().Edit(res::kIdcDeviceName)->text(), U("设备一"));
}

TEST(EditDuringReply, ReplyIntoTheBoxBeingTypedGivesTheDevicesTextOnlyWhenItHasOne) {
  Editing app;
  app.AskOverUdp();
  app.Show(app.Network());
  QLineEdit* heartbeat = FocusLine(app.Edit(app.Network(), 1026));
  app.TypeAtFocus(U("心跳"));

  // No heartbeat in the record: the box keeps the engineer's text and caret.
  ConfigForm form = DeviceRecord();
  form.heartbeat.reset();
  heartbeat->setCursorPosition(1);
  app.Answer(ConfigReply(form), true);
  EXPECT_EQ(QApplication::focusWidget(), heartbeat);
  EXPECT_EQ(heartbeat->cursorPosition(), 1);
  app.TypeAtFocus("-");
  EXPECT_EQ(heartbeat->text(), U("心-跳"));

  // With one, the device's record wins, and typing goes on in the same box.
  app.Click(app.Network(), 1034);
  ASSERT_FALSE(app.device.Receive().empty());
  heartbeat->setFocus(Qt::MouseFocusReason);
  app.Answer(ConfigReply(DeviceRecord()), true);
  EXPECT_EQ(QApplication::focusWidget(), heartbeat);
  app.TypeAtFocus("!");
  EXPECT_EQ(heartbeat->text(), U("在线!"));
}

TEST(EditDuringReply, ReplyDisablingTheBoxBeingTypedSendsNoKeysIntoAnotherControl) {
  // Typing in the domain box when the record switches to "TCP Server", or in an address
  // when it turns DHCP on: the box is disabled under the caret.
  struct Case {
    const char* name;
    int id;
    bool address;
  };
  for (const Case& c : {Case{"domain", 1019, false}, Case{"server address", 1009, true},
                        Case{"local address", 1006, true}}) {
    SCOPED_TRACE(c.name);
    Editing app;
    app.AskOverUdp();
    app.Show(app.Network());
    QLineEdit* box = c.address ? app.Ip(app.Network(), c.id)->Field(3) : app.Edit(app.Network(), c.id);
    FocusLine(box);
    app.TypeAtFocus("7");

    app.Answer(ConfigReply(DeviceRecord()), true);
    ASSERT_FALSE(box->isEnabled());
    const Editing::Seen before = app.Look();
    if (QWidget* focus = QApplication::focusWidget()) test::TypeText(focus, "12");
    const Editing::Seen after = app.Look();
    EXPECT_EQ(after.network, before.network) << "the keys went into "
                                             << (QApplication::focusWidget()
                                                     ? QApplication::focusWidget()->objectName().toStdString()
                                                     : std::string("nothing"));
    EXPECT_EQ(after.serial, before.serial);
    EXPECT_EQ(after.mqtt, before.mqtt);
    EXPECT_EQ(after.log, before.log);
  }
}

}  // namespace
}  // namespace velmora
