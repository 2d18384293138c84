#pragma once
// The main window with its two configuration pages, driven like an engineer would: clicks
// and typing on controls found by id. Devices answer on a pseudo-terminal or on loopback UDP.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

#include <chrono>
#include <cstdint>
#include <vector>

#include "widgets/controls.h"
#include "config/ui/network_page.h"
#include "config/ui/serial_page.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "support/gui_typing.h"
#include "support/pty_pair.h"
#include "support/wait.h"

namespace velmora::test {

using namespace std::chrono_literals;

// The device end of the network link: bound where the tool sends, answering the sender.
class UdpDevice {
 public:
  explicit UdpDevice(quint16 port) { bound_ = socket_.bind(QHostAddress::LocalHost, port); }
  bool Bound() const { return bound_; }
  // The next datagram the tool sent, or empty after `timeout`.
  Bytes Receive(std::chrono::milliseconds timeout = 3s) {
    if (!WaitUntil([&] { return socket_.hasPendingDatagrams(); }, timeout)) return {};
    QByteArray data(static_cast<qsizetype>(socket_.pendingDatagramSize()), '\0');
    socket_.readDatagram(data.data(), data.size(), &peer_, &peer_port_);
    return Bytes(data.begin(), data.end());
  }
  // To whoever sent the last datagram; before any, to `tool_port` on loopback.
  void Send(const Bytes& bytes, quint16 tool_port = 0) {
    const QHostAddress to = peer_port_ ? peer_ : QHostAddress(QHostAddress::LocalHost);
    socket_.writeDatagram(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()), to,
                          peer_port_ ? peer_port_ : tool_port);
  }

 private:
  QUdpSocket socket_;
  bool bound_ = false;
  QHostAddress peer_;
  quint16 peer_port_ = 0;
};

struct PageHarness : AppFixture {
  SerialPage& Serial() const { return *qobject_cast<SerialPage*>(window->Page(MainWindow::kSerialPage)); }
  NetworkPage& Network() const { return *qobject_cast<NetworkPage*>(window->Page(MainWindow::kNetworkPage)); }
  QWidget& Mqtt() const { return *window->Page(MainWindow::kMqttPage); }

  template <class T = QWidget>
  static T* Ctl(const QWidget& page, int id) {
    QWidget* w = FindControl(&page, id);
    EXPECT_NE(w, nullptr) << "no control " << id;
    return qobject_cast<T*>(w);
  }
  static QAbstractButton* Button(const QWidget& page, int id) { return Ctl<QAbstractButton>(page, id); }
  static QComboBox* Combo(const QWidget& page, int id) { return Ctl<QComboBox>(page, id); }
  static LineEdit* Edit(const QWidget& page, int id) { return Ctl<LineEdit>(page, id); }
  static IpAddressEdit* Ip(const QWidget& page, int id) { return Ctl<IpAddressEdit>(page, id); }
  static QLabel* Label(const QWidget& page, int id) { return Ctl<QLabel>(page, id); }

  void Show(const QWidget& page) {
    window->ShowPage(&page == &Serial() ? MainWindow::kSerialPage
                     : &page == &Network() ? MainWindow::kNetworkPage
                                           : MainWindow::kMqttPage);
  }

  void Click(const QWidget& page, int id) {
    Show(page);
    QAbstractButton* b = Button(page, id);
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
  }
  // Replaces the text of an edit box by typing.
  void Type(const QWidget& page, int id, const QString& text) {
    Show(page);
    LineEdit* e = Edit(page, id);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    TypeText(e, text);
  }
  // Types into the editable field of a list.
  void TypeInList(const QWidget& page, int id, const QString& text) {
    Show(page);
    QComboBox* c = Combo(page, id);
    c->lineEdit()->setFocus();
    c->lineEdit()->selectAll();
    QTest::keyClick(c->lineEdit(), Qt::Key_Delete);
    TypeText(c->lineEdit(), text);
  }
  // Picks an item as the drop-down does.
  void Choose(const QWidget& page, int id, const QString& item) {
    QComboBox* c = Combo(page, id);
    const int i = c->findText(item);
    ASSERT_GE(i, 0) << item.toStdString();
    c->setCurrentIndex(i);
  }
  // Types a dotted address field by field, as the address control takes it.
  void TypeAddress(const QWidget& page, int id, const QString& dotted) {
    Show(page);
    IpAddressEdit* ip = Ip(page, id);
    ip->Clear();
    const QStringList octets = dotted.split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < octets.size(); ++i) QTest::keyClicks(ip->Field(i), octets[i]);
  }

  // Log entries (each behind its stamp line), in order.
  QStringList LogLines() const {
    QStringList out;
    const QString stamp = LogStamp(FixedTime()).trimmed();
    for (const QString& line : LogText().split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts)) {
      if (line.trimmed() != stamp) out << line;
    }
    return out;
  }
  int CountLines(const QString& prefix) const {
    int n = 0;
    for (const QString& l : LogLines()) n += l.startsWith(prefix) ? 1 : 0;
    return n;
  }
  bool WaitForStatus(const QString& text, std::chrono::milliseconds timeout = 3s) {
    return WaitUntil([&] { return window->StatusText() == text; }, timeout);
  }

  // Opens the serial page on the test's pseudo-terminal, as an engineer typing its path.
  void OpenSerialOn(const PtyPair& pty) {
    TypeInList(Serial(), 1000, pty.SlavePath());
    Click(Serial(), 1003);
    ASSERT_TRUE(serial.IsOpen());
  }
  // Opens the network page towards the loopback device.
  void OpenNetworkOnLoopback() {
    TypeAddress(Network(), 1016, QStringLiteral("127.0.0.1"));
    Click(Network(), 1003);
    ASSERT_TRUE(udp.IsOpen());
  }
};

}  // namespace velmora::test
