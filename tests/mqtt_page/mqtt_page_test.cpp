#include "mqtt/ui/mqtt_page.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "widgets/controls.h"
#include "protocol/gbk.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "support/gui_typing.h"
#include "support/pty_pair.h"

// Readable failures for the texts.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::AppFixture;
using test::Bytes;
using test::Command;
using test::PtyPair;
using test::Reply;
using test::TypeText;

constexpr int kPortMap = 1000;
constexpr int kProductKey = 1007;
constexpr int kDeviceName = 1008;
constexpr int kDeviceSecret = 1009;
constexpr int kWrite = 1019;
constexpr int kRead = 1020;

const QString kSerialSent = QString::fromUtf8("串口发送:");
const QString kUdpSent = QString::fromUtf8("UDP发送:");

Bytes Text(const std::string& s, std::size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}

// A credential record laid out by hand: map byte, then 32 + 32 + 64 text bytes.
Bytes Record(uint8_t map, const std::string& key, const std::string& name, const std::string& secret) {
  Bytes r{map};
  for (const Bytes& part : {Text(key, 32), Text(name, 32), Text(secret, 64)}) r.insert(r.end(), part.begin(), part.end());
  return r;
}

QString Hex(const Bytes& b) {
  QString s;
  for (uint8_t x : b) s += QString::asprintf("%02X ", x);
  return s + "\r\n";
}

QString Gbk(const char* utf8) { return QString::fromUtf8(utf8); }

using Form = std::tuple<int, QString, QString, QString>;

// The MQTT page of a shown main window, brought to the front, plus the device's ends
// of both links.
class MqttPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = qobject_cast<MqttPage*>(app_.window->Page(MainWindow::kMqttPage));
    ASSERT_NE(page_, nullptr);
    app_.window->ShowPage(MainWindow::kMqttPage);
    ASSERT_TRUE(pty_.Ok());
    test::NoProxy(device_);
    ASSERT_TRUE(device_.bind(QHostAddress::LocalHost, app_.udp_device_port));
  }

  void OpenSerial() { ASSERT_TRUE(app_.serial.Open(pty_.SlavePath(), 115200, 0)); }
  void OpenUdp() { ASSERT_TRUE(app_.udp.OpenEndpoint(QStringLiteral("127.0.0.1"))); }

  QComboBox* Combo() const { return qobject_cast<QComboBox*>(FindControl(page_, kPortMap)); }
  LineEdit* Edit(int id) const { return qobject_cast<LineEdit*>(FindControl(page_, id)); }
  QString Field(int id) const { return Edit(id)->text(); }
  void Click(int id) {
    auto* b = qobject_cast<QAbstractButton*>(FindControl(page_, id));
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
  }
  QString Status() const { return app_.window->StatusText(); }
  // List position and the three texts, as one value to compare.
  Form Shown() const { return {ListPosition(Combo()), Field(kProductKey), Field(kDeviceName), Field(kDeviceSecret)}; }

  // The next datagram the device's UDP end receives, empty after `wait` of silence.
  Bytes UdpReceived(std::chrono::milliseconds wait) {
    if (!device_.hasPendingDatagrams() && !device_.waitForReadyRead(static_cast<int>(wait.count()))) return {};
    const QByteArray d = device_.receiveDatagram().data();
    return Bytes(d.begin(), d.end());
  }

  // Plays the device answering over one link and waits until the pump has handed the
  // frame on (it logs every frame before routing it).
  void AnswerSerial(const Bytes& frame) { Answer(frame, [&] { ASSERT_TRUE(pty_.WriteMaster(frame)); }); }
  void AnswerUdp(const Bytes& frame) {
    Answer(frame, [&] {
      const QByteArray d(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
      ASSERT_EQ(device_.writeDatagram(d, QHostAddress::LocalHost, app_.udp_local_port), d.size());
    });
  }

  template <class Send>
  void Answer(const Bytes& frame, Send send) {
    const qsizetype before = app_.LogText().count(Hex(frame).trimmed());
    send();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app_.LogText().count(Hex(frame).trimmed()) > before; }, 3000));
  }

  PtyPair pty_;  // outlives the fixture, so the port closes before its far end does
  AppFixture app_;
  QUdpSocket device_;
  MqttPage* page_ = nullptr;
};

TEST_F(MqttPageTest, StartsWithTheDefaultCredentialsAndItsControls) {
  ASSERT_NE(Combo(), nullptr);
  QStringList items;
  for (int i = 0; i < Combo()->count(); ++i) items << Combo()->itemText(i);
  EXPECT_EQ(items, QStringList({Gbk("关闭"), "IP0_4G", "IP1_4G", "ENET_TCP"}));
  EXPECT_TRUE(Combo()->isEditable());
  EXPECT_EQ(Combo()->currentText(), Gbk("关闭"));
  EXPECT_EQ(Shown(), Form(0, "kQ7tRw2LmZs", "nb_sample", "5c0e7b91f2d84a36b07c9e1d4f6a2b83"));
  EXPECT_EQ(Edit(kProductKey)->ByteLimit(), 32);
  EXPECT_EQ(Edit(kDeviceName)->ByteLimit(), 32);
  EXPECT_EQ(Edit(kDeviceSecret)->ByteLimit(), 64);

  EXPECT_EQ(qobject_cast<QAbstractButton*>(FindControl(page_, kWrite))->text(), Gbk("写入配置"));
  EXPECT_EQ(qobject_cast<QAbstractButton*>(FindControl(page_, kRead))->text(), Gbk("读取配置"));
  QStringList groups;
  for (auto* g : page_->findChildren<QGroupBox*>()) groups << g->title();
  groups.sort();
  EXPECT_EQ(groups, QStringList({Gbk("MQTT三元组信息:"), Gbk("MQTT端口映射:")}));
  // Each field is named by the label beside it.
  EXPECT_EQ(Combo()->accessibleName(), Gbk("端口映射"));
  EXPECT_EQ(Edit(kDeviceSecret)->accessibleName(), "DeviceSecret");

  // Inside the tab control every control and frame stays whole in view.
  for (QWidget* w : page_->findChildren<QWidget*>()) {
    if (w->parentWidget() != page_) continue;
    EXPECT_TRUE(page_->rect().contains(w->geometry())) << ControlId(w);
  }

  // Tab walks the form from the list down to the buttons.
  std::vector<int> order{kPortMap};
  for (QWidget* w = Combo()->nextInFocusChain(); w != Combo() && order.size() < 6; w = w->nextInFocusChain()) {
    if (ControlId(w) != res::kNoId && (w->focusPolicy() & Qt::TabFocus)) order.push_back(ControlId(w));
  }
  EXPECT_EQ(order, std::vector<int>({kPortMap, kProductKey, kDeviceName, kDeviceSecret, kWrite, kRead}));
}

TEST_F(MqttPageTest, DefaultWriteSendsTheRecordByteForByteOverUdp) {
  OpenUdp();
  Click(kWrite);
  const Bytes frame = Command(0xE6, Record(0x00, "kQ7tRw2LmZs", "nb_sample", "5c0e7b91f2d84a36b07c9e1d4f6a2b83"));
  ASSERT_EQ(frame.size(), 135u);
  EXPECT_EQ(UdpReceived(2s), frame);
  EXPECT_TRUE(app_.LogText().endsWith(kUdpSent + Hex(frame).replace("\r\n", "\n")));
  EXPECT_EQ(Status(), "....");
  EXPECT_TRUE(app_.modal.messages.isEmpty());
}

TEST_F(MqttPageTest, EachSendTakesTheSerialPortWhileOpenAndUdpOtherwise) {
  const Bytes read{0xF5, 0x80, 0xE7, 0x00, 0x5C, 0x0D};
  const QString read_hex = "F5 80 E7 00 5C 0D \n";
  // No link at all: the UDP endpoint reports the failure, the frame is still logged.
  Click(kRead);
  ASSERT_EQ(app_.modal.messages.size(), 1);
  EXPECT_TRUE(app_.modal.messages[0].startsWith(Gbk("UDP发送失败,请先打开UDP服务:")));
  EXPECT_TRUE(app_.LogText().endsWith(kUdpSent + read_hex));
  EXPECT_EQ(Status(), "....");

  OpenUdp();
  OpenSerial();
  app_.window->SetStatusText("x");
  Click(kRead);
  EXPECT_EQ(pty_.ReadMaster(read.size(), 2s), read);
  EXPECT_TRUE(app_.LogText().endsWith(kSerialSent + read_hex));
  EXPECT_EQ(Status(), "....");
  Click(kWrite);
  EXPECT_EQ(pty_.ReadMaster(135, 2s).size(), 135u);
  EXPECT_TRUE(UdpReceived(200ms).empty()) << "the UDP link stays quiet while the serial port is open";

  app_.serial.Close();
  Click(kRead);
  EXPECT_EQ(UdpReceived(2s), read);
  EXPECT_TRUE(app_.LogText().endsWith(kUdpSent + read_hex));
}

TEST_F(MqttPageTest, RepliesFillTheFormFromTheLinkThatCarriedThem) {
  OpenSerial();
  OpenUdp();
  AnswerSerial(Reply(0xE7, Record(1, "serial_key", "serial_name", "serial_secret")));
  EXPECT_EQ(Shown(), Form(1, "serial_key", "serial_name", "serial_secret"));
  EXPECT_EQ(Status(), "Successful!");

  // The serial buffer still holds the serial reply; a UDP reply must not be read from it.
  app_.window->SetStatusText("....");
  AnswerUdp(Reply(0xE6, Record(3, "udp_key", "udp_name", "udp_secret")));
  EXPECT_EQ(Shown(), Form(3, "udp_key", "udp_name", "udp_secret"));
  EXPECT_EQ(Status(), "Successful!");
  AnswerSerial(Reply(0xE6, Record(2, "k2", "n2", "s2")));
  EXPECT_EQ(Shown(), Form(2, "k2", "n2", "s2"));

  // The pump logged each frame; the page adds nothing of its own.
  const QString log = app_.LogText();
  EXPECT_EQ(log.count(Gbk("串口接收:")), 2);
  EXPECT_EQ(log.count(Gbk("UDP接收:")), 1);
  EXPECT_EQ(log.count("[2021-03-09 14:05:59 7]"), 3) << "three entries, nothing more";

  // Codes that are not the page's change nothing.
  app_.window->SetStatusText("....");
  page_->HandleReply(ReplyFrame{Link::Serial, Reply(0xE2, Record(0, "x", "y", "z"))});
  EXPECT_EQ(Shown(), Form(2, "k2", "n2", "s2"));
  EXPECT_EQ(Status(), "....");
}

TEST_F(MqttPageTest, ShortRepliesLeaveTheMissingFieldsEmpty) {
  OpenSerial();
  const Bytes head = Record(2, "short", "", "");  // map byte and ProductKey only
  AnswerSerial(Reply(0xE7, Bytes(head.begin(), head.begin() + 33)));
  EXPECT_EQ(Shown(), Form(2, "short", "", ""));
  EXPECT_EQ(Status(), "Successful!");

  // A write reply that carries no record clears the page.
  AnswerSerial(Reply(0xE6, Record(3, "a", "b", "c")));
  AnswerSerial(Reply(0xE6, {}));
  EXPECT_EQ(Shown(), Form(0, "", "", ""));
  EXPECT_EQ(Combo()->currentText(), Gbk("关闭"));

  // Length byte 129, but the frame ends after the ProductKey; an older reply's bytes
  // still lie behind it in the receive buffer and must not show.
  AnswerSerial(Reply(0xE7, Record(1, "old_key", "old_name", "old_secret")));
  Bytes cut{0xF5, 0x00, 0xE7, 0x81};
  cut.insert(cut.end(), head.begin(), head.begin() + 33);
  cut.push_back(0x0D);
  AnswerSerial(cut);
  EXPECT_EQ(Shown(), Form(2, "short", "", ""));
}

TEST_F(MqttPageTest, UnknownPortMapLeavesNoSelectionAndWritesFF) {
  OpenUdp();
  for (uint8_t map : {uint8_t{0xFF}, uint8_t{4}, uint8_t{0x80}}) {
    SetListPosition(Combo(), 2);
    AnswerUdp(Reply(0xE7, Record(map, "k", "n", std::to_string(map))));
    EXPECT_EQ(Combo()->currentIndex(), -1) << int(map);
    EXPECT_EQ(Combo()->currentText(), "") << int(map);
    EXPECT_EQ(Field(kDeviceSecret), QString::number(map));
  }
  Click(kWrite);
  EXPECT_EQ(UdpReceived(2s).at(4), 0xFF) << "no selection travels as FF";

  // Text typed into the list's field that names no item is no selection either.
  SetListPosition(Combo(), 1);
  Combo()->setEditText("IP0");
  Click(kWrite);
  EXPECT_EQ(UdpReceived(2s).at(4), 0xFF);
}

TEST_F(MqttPageTest, FullFieldsAreTypedSentAndShownBackWhole) {
  OpenUdp();
  const QString key(32, 'K');
  const QString name = QString(30, 'n') + Gbk("名");  // 32 bytes
  const QString secret = Gbk("密钥").repeated(16);      // 64 bytes
  for (auto [id, text] : {std::pair{kProductKey, key}, std::pair{kDeviceName, name}, std::pair{kDeviceSecret, secret}}) {
    Edit(id)->clear();
    TypeText(Edit(id), text + "X");  // one more than the field holds: refused
    EXPECT_EQ(Field(id), text);
  }
  Click(kWrite);
  const Bytes sent = UdpReceived(2s);
  ASSERT_EQ(sent.size(), 135u);
  const Bytes record = Record(0, ToGbk(key), ToGbk(name), ToGbk(secret));
  EXPECT_EQ(Bytes(sent.begin() + 4, sent.begin() + 133), record);

  // The device echoes it: no field has a terminator, none may run into the next, and
  // bytes behind the record stay out of the secret.
  for (int id : {kProductKey, kDeviceName, kDeviceSecret}) Edit(id)->clear();
  Bytes longer = record;
  longer.resize(200, 'Z');
  AnswerUdp(Reply(0xE6, longer));
  EXPECT_EQ(Shown(), Form(0, key, name, secret));
}

TEST_F(MqttPageTest, ReplyWhileTypingReplacesTheFormAndTypingCarriesOn) {
  OpenSerial();
  LineEdit* name = Edit(kDeviceName);
  name->setFocus();
  name->selectAll();
  TypeText(name, "half_typ");
  Combo()->setEditText("ENET");  // a half-typed item text in the list too

  AnswerSerial(Reply(0xE7, Record(0, "dev_key", std::string(31, 'd'), "dev_secret")));
  EXPECT_EQ(Shown(), Form(0, "dev_key", QString(31, 'd'), "dev_secret"));
  EXPECT_EQ(Combo()->currentText(), Gbk("关闭")) << "the device's choice replaces the typed text";
  EXPECT_EQ(Status(), "Successful!");
  EXPECT_TRUE(name->hasFocus());

  // Typing goes on from the end of the new text, and the field's limit still holds.
  TypeText(name, "xy");
  EXPECT_EQ(Field(kDeviceName), QString(31, 'd') + "x");
  Click(kWrite);
  const Bytes sent = pty_.ReadMaster(135, 2s);
  ASSERT_EQ(sent.size(), 135u);
  EXPECT_EQ(Bytes(sent.begin() + 4 + 33, sent.begin() + 4 + 65), Text(std::string(31, 'd') + "x", 32));
}

// A device on the serial line that keeps what 0xE6 writes, echoes it, and answers 0xE7
// with it.
TEST_F(MqttPageTest, WrittenCredentialsReadBackTheSameFromADevice) {
  OpenSerial();
  Bytes stored = Record(0, "", "", "");
  auto serve = [&] {
    Bytes cmd = pty_.ReadMaster(4, 2s);
    ASSERT_EQ(cmd.size(), 4u);
    const Bytes rest = pty_.ReadMaster(cmd[3] + 2u, 2s);
    cmd.insert(cmd.end(), rest.begin(), rest.end());
    ASSERT_EQ(cmd.size(), cmd[3] + 6u);
    ASSERT_EQ(cmd[cmd.size() - 2], Checksum8(std::span(cmd).first(cmd.size() - 2)));
    if (cmd[2] == 0xE6) stored.assign(cmd.begin() + 4, cmd.end() - 2);
    AnswerSerial(Reply(cmd[2], stored));
  };

  const Form written(2, "a1B2c3D4e5", Gbk("网关_07"), QString(64, 's'));
  SetListPosition(Combo(), std::get<0>(written));
  Edit(kProductKey)->setText(std::get<1>(written));
  Edit(kDeviceName)->setText(std::get<2>(written));
  Edit(kDeviceSecret)->setText(std::get<3>(written));
  Click(kWrite);
  serve();
  EXPECT_EQ(Status(), "Successful!");

  SetListPosition(Combo(), 0);
  for (int id : {kProductKey, kDeviceName, kDeviceSecret}) Edit(id)->setText("changed");
  Click(kRead);
  EXPECT_EQ(Status(), "....");
  serve();
  EXPECT_EQ(Status(), "Successful!");
  EXPECT_EQ(Shown(), written);
}

}  // namespace
}  // namespace velmora
