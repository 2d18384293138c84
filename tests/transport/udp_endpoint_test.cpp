#include "transport/udp_endpoint.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "protocol/command_frame.h"
#include "log/traffic_log.h"
#include "protocol/receive_pump.h"
#include "support/logging_pump.h"
#include "protocol/receive_state.h"
#include "support/fake_modal_ui.h"
#include "support/udp_test_port.h"
#include "support/wait.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

QByteArray Bytes(std::span<const uint8_t> b) {
  return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

QByteArray UdpBytes(const ReceiveState& state) {
  return Bytes(state.UdpBuffer().first(state.UdpCount()));
}

struct CollectingLog : LogSink {
  void AppendLog(const QString& text) override { lines.append(text); }
  QStringList lines;
};

struct CollectingHandler {
  void HandleReply(const ReplyFrame& frame) { frames.push_back(Bytes(frame.bytes)); }
  void Subscribe(ReceivePump& pump) {
    pump.Subscribe(ReplyKind::Config, Link::Udp, [this](const ReplyFrame& f) { HandleReply(f); });
  }
  std::vector<QByteArray> frames;
};

class UdpEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::NoProxy(device_);
    ASSERT_TRUE(device_.bind(QHostAddress::AnyIPv4, 0));
    device_port_ = device_.localPort();
    local_port_ = test::FreeUdpPort();
    ASSERT_NE(local_port_, 0);
    endpoint_ = std::make_unique<UdpEndpoint>(state_, ui_, local_port_, device_port_);
  }

  void DeviceSends(const QByteArray& bytes) {
    ASSERT_EQ(device_.writeDatagram(bytes, QHostAddress::LocalHost, local_port_), bytes.size());
  }

  // The next datagram the device gets, or an empty array when none came.
  QByteArray DeviceReceives(quint16* from_port = nullptr, std::chrono::milliseconds timeout = 2s) {
    if (!WaitUntil([&] { return device_.hasPendingDatagrams(); }, timeout)) return {};
    QByteArray data(static_cast<qsizetype>(device_.pendingDatagramSize()), '\0');
    quint16 port = 0;
    device_.readDatagram(data.data(), data.size(), nullptr, &port);
    if (from_port) *from_port = port;
    return data;
  }

  ReceiveState state_;
  test::FakeModalUi ui_;
  QUdpSocket device_;
  quint16 device_port_ = 0;
  quint16 local_port_ = 0;
  std::unique_ptr<UdpEndpoint> endpoint_;
};

const QString kSendFailed = QString::fromUtf8("UDP发送失败,请先打开UDP服务:");
const QString kClosed = QString::fromUtf8("UDP连接已经关闭!");
const QString kReceiveFailed = QString::fromUtf8("接受数据失败!");

TEST_F(UdpEndpointTest, DatagramsFromTheDeviceAddressReachTheReceiveStateFromAnyPort) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  const QByteArray reply("\xF5\x00\xE3\x01\x31\x2A\x0D", 7);
  DeviceSends(reply);
  ASSERT_TRUE(WaitUntil([&] { return state_.UdpCount() == 7; }));
  EXPECT_EQ(UdpBytes(state_), reply);
  EXPECT_TRUE(state_.UdpPending());

  // Not checked against the device port: a device may answer from any port.
  QUdpSocket stranger;
  test::NoProxy(stranger);
  ASSERT_EQ(stranger.writeDatagram(QByteArray("hello"), QHostAddress::LocalHost, local_port_), 5);
  ASSERT_TRUE(WaitUntil([&] { return state_.UdpCount() == 5; }));
  EXPECT_EQ(UdpBytes(state_), QByteArray("hello"));
  EXPECT_TRUE(ui_.messages.isEmpty());
}

TEST_F(UdpEndpointTest, EveryDatagramBeforeThePumpClosesIsDeliveredWholeAndInOrder) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  CollectingLog log;
  CollectingHandler network;
  test::LoggingPump pump(state_, log);
  network.Subscribe(pump);

  const QByteArray first("\xF5\x00\xE3\x05\x31\x2E\x30\x2E\x30\x00\x0D", 11);
  const QByteArray second("\xF5\x00\xEB\x01\x17\x00\x0D", 7);
  DeviceSends(first);
  DeviceSends(second);
  ASSERT_TRUE(WaitUntil([&] { return UdpBytes(state_) == second; }));
  for (int i = 0; i < ReceivePump::kUdpCloseTicks; ++i) pump.Tick();

  ASSERT_EQ(network.frames.size(), 2u);
  EXPECT_EQ(network.frames[0], first);
  EXPECT_EQ(network.frames[1], second);
  ASSERT_EQ(log.lines.size(), 2);
  EXPECT_EQ(log.lines[1], QString::fromUtf8("UDP接收:") +
                              HexText(std::span(reinterpret_cast<const uint8_t*>(second.constData()), 7)));
}

// The window's Devices dialog searches through this endpoint: the answers of a whole
// network arrive while the window is busy, and none may be lost before it reads them.
TEST_F(UdpEndpointTest, TheAnswersOfAWholeNetworkWaitForTheWindowWithoutLoss) {
  constexpr int kDevices = 128;
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("255.255.255.255")));
  std::set<std::pair<quint32, quint16>> senders;
  int taken = 0;
  endpoint_->SetDatagramTap([&](const PeerAddress& from, std::span<const uint8_t>) {
    senders.insert({from.ipv4, from.port});
    ++taken;
    return true;
  });
  const std::vector<uint8_t> config(227, 0x5A);  // as long as a configuration reply
  const test::ManySenders devices(kDevices, local_port_, {{0xF5, 0x00, 0xE3, 0x01, 0x31, 0x2A, 0x0D}, config});
  ASSERT_EQ(devices.Sent(), 2 * kDevices);
  WaitUntil([&] { return taken == 2 * kDevices; }, 2s);
  EXPECT_EQ(taken, 2 * kDevices);
  EXPECT_EQ(senders.size(), static_cast<std::size_t>(kDevices));
  endpoint_->SetDatagramTap({});
}

TEST_F(UdpEndpointTest, SendGoesAsOneDatagramFromTheLocalPortToTheDevicePort) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  const std::vector<uint8_t> frame{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D};
  endpoint_->SendToDevice(frame.data(), frame.size());
  quint16 from = 0;
  EXPECT_EQ(DeviceReceives(&from), Bytes(frame));
  EXPECT_EQ(from, local_port_) << "replies come back to the port the endpoint listens on";

  // The loopback network's broadcast address: sending there needs the broadcast permission.
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.255.255.255")));
  endpoint_->SendToDevice(frame.data(), frame.size());
  EXPECT_EQ(DeviceReceives(), Bytes(frame));
  EXPECT_TRUE(ui_.messages.isEmpty()) << ui_.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(UdpEndpointTest, SendWhileClosedShowsTheFailureBoxAndSendsNothing) {
  EXPECT_EQ(UdpEndpoint::NotOpenError(), ENOTSOCK);
  const QString expected = kSendFailed + QString::number(ENOTSOCK) + QStringLiteral("\r\n\r\n");
  const std::vector<uint8_t> frame{0xF5, 0x80, 0xE4, 0x00, 0x59, 0x0D};

  endpoint_->SendToDevice(frame.data(), frame.size());
  EXPECT_EQ(ui_.messages, QStringList{expected});

  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  endpoint_->CloseEndpoint();
  EXPECT_TRUE(endpoint_->DeviceAddress().isEmpty());
  endpoint_->SendToDevice(frame.data(), frame.size());
  EXPECT_EQ(ui_.messages, (QStringList{expected, expected}));
  EXPECT_TRUE(DeviceReceives(nullptr, 200ms).isEmpty());
}

TEST_F(UdpEndpointTest, FailureBoxesDoNotStack) {
  // A timer that sends while the failure box is up (the box runs the event loop) fails
  // again; that second failure must not open a box on top of the first.
  const std::vector<uint8_t> frame{0xF5, 0x80, 0xE5, 0x00, 0x5A, 0x0D};
  int nested_sends = 0;
  ui_.while_shown = [&] {
    if (nested_sends++ < 3) endpoint_->SendToDevice(frame.data(), frame.size());
  };
  endpoint_->SendToDevice(frame.data(), frame.size());
  EXPECT_EQ(ui_.max_open_boxes, 1);
  EXPECT_EQ(ui_.messages.size(), 1);
  EXPECT_EQ(endpoint_->DroppedNotices(), 1);
}

TEST_F(UdpEndpointTest, PortIsHeldExclusively) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("192.168.1.255")));
  EXPECT_EQ(endpoint_->DeviceAddress(), QStringLiteral("192.168.1.255"));

  ReceiveState other_state;
  UdpEndpoint second(other_state, ui_, local_port_, device_port_);
  EXPECT_FALSE(second.OpenEndpoint(QStringLiteral("127.0.0.1"))) << "another instance of the tool";
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(second.DeviceAddress().isEmpty());
  QUdpSocket sharer;
  test::NoProxy(sharer);
  EXPECT_FALSE(sharer.bind(QHostAddress::AnyIPv4, local_port_,
                           QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));

  DeviceSends(QByteArray("x"));
  ASSERT_TRUE(WaitUntil([&] { return state_.UdpCount() == 1; }));
  EXPECT_EQ(other_state.UdpCount(), 0u);

  endpoint_->CloseEndpoint();
  EXPECT_FALSE(endpoint_->IsOpen());
  EXPECT_TRUE(endpoint_->DeviceAddress().isEmpty());
  EXPECT_TRUE(second.OpenEndpoint(QStringLiteral("127.0.0.1"))) << "the port is free again";
  second.CloseEndpoint();

  // Another program that binds first, even one offering to share, keeps the port.
  ASSERT_TRUE(sharer.bind(QHostAddress::AnyIPv4, local_port_,
                          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
  EXPECT_FALSE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
}

TEST_F(UdpEndpointTest, EmptyDatagramShowsTheBoxOnceAndLeavesTheStateAlone) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  DeviceSends(QByteArray("abc"));
  ASSERT_TRUE(WaitUntil([&] { return state_.UdpCount() == 3; }));
  ASSERT_FALSE(state_.TickUdp(3).close);
  ASSERT_FALSE(state_.TickUdp(3).close);

  DeviceSends(QByteArray());
  ASSERT_TRUE(WaitUntil([&] { return !ui_.messages.isEmpty(); }));
  WaitUntil([] { return false; }, 50ms);
  EXPECT_EQ(ui_.messages, QStringList{kClosed});
  EXPECT_EQ(UdpBytes(state_), QByteArray("abc"));
  // The quiet time of "abc" was not restarted: its third tick still closes it.
  const auto snap = state_.TickUdp(3);
  EXPECT_TRUE(snap.close);
  EXPECT_EQ(snap.length, 3u);
}

TEST_F(UdpEndpointTest, DatagramsOverTheLimitAreRejected) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  const QByteArray largest(1023, 'a');
  DeviceSends(largest);
  ASSERT_TRUE(WaitUntil([&] { return state_.UdpCount() == 1023; }));
  EXPECT_EQ(UdpBytes(state_), largest);

  DeviceSends(QByteArray(1024, 'b'));
  ASSERT_TRUE(WaitUntil([&] { return ui_.messages.size() == 1; }));
  DeviceSends(QByteArray(5000, 'c'));
  ASSERT_TRUE(WaitUntil([&] { return ui_.messages.size() == 2; }));
  EXPECT_EQ(ui_.messages, (QStringList{kReceiveFailed, kReceiveFailed}));
  EXPECT_EQ(UdpBytes(state_), largest);
}

TEST_F(UdpEndpointTest, FloodOfEmptyDatagramsShowsOneBoxAndStaysResponsive) {
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  constexpr int kFlood = 1000;
  std::atomic<bool> flood_done{false};
  const quint16 target = local_port_;
  std::thread host([&flood_done, target] {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(target);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kFlood; ++i) {
      ::sendto(fd, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      if (i % 10 == 9) std::this_thread::sleep_for(1ms);  // paced so the socket buffer never overflows
    }
    ::close(fd);
    flood_done = true;
  });

  // The user reads the first box for as long as the flood lasts; any later box is
  // clicked away at once.
  int boxes = 0;
  ui_.while_shown = [&] {
    if (boxes++ > 0) return;
    WaitUntil([&] { return flood_done.load(); }, 10s);
    WaitUntil([] { return false; }, 100ms);  // what is still on its way
  };
  const bool shown = WaitUntil([&] { return !ui_.messages.isEmpty(); }, 10s);
  host.join();
  ASSERT_TRUE(shown);
  WaitUntil([&] { return endpoint_->DroppedNotices() == kFlood - 1; }, 2s);

  EXPECT_EQ(ui_.max_open_boxes, 1);
  EXPECT_EQ(ui_.messages, QStringList{kClosed});
  EXPECT_EQ(endpoint_->DroppedNotices(), kFlood - 1);

  DeviceSends(QByteArray("OK\r\n"));
  EXPECT_TRUE(WaitUntil([&] { return UdpBytes(state_) == QByteArray("OK\r\n"); }, 1s));
}

// Log entries with the time each was written.
struct TimedLog : LogSink {
  void AppendLog(const QString& text) override {
    lines.append(text);
    times.push_back(std::chrono::steady_clock::now());
  }
  QStringList lines;
  std::vector<std::chrono::steady_clock::time_point> times;
};

// A host on the segment that is not the device: another loopback address.
class Stranger {
 public:
  Stranger() {
    test::NoProxy(socket_);
    bound_ = socket_.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
  }
  bool Bound() const { return bound_; }
  quint16 Port() const { return socket_.localPort(); }
  bool Send(const QByteArray& bytes, quint16 to_port) {
    return socket_.writeDatagram(bytes, QHostAddress::LocalHost, to_port) == bytes.size();
  }

 private:
  QUdpSocket socket_;
  bool bound_ = false;
};

QString IgnoredLine(quint16 port, int bytes, int others = 0) {
  QString line = QString::fromUtf8("[UDP]: 忽略来自 127.0.0.2:%1 的 %2 字节数据").arg(port).arg(bytes);
  if (others > 0) line += QString::fromUtf8("(另有 %1 个数据包被忽略)").arg(others);
  return line + QStringLiteral(".\r\n");
}

TEST_F(UdpEndpointTest, WithTheDeviceAtOneAddressOtherSendersAreLoggedAtMostOnceASecondAndNeverHandled) {
  Stranger stranger;
  ASSERT_TRUE(stranger.Bound());
  TimedLog log;
  TrafficLog traffic(log);
  traffic.Watch(*endpoint_);
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  EXPECT_FALSE(endpoint_->HearsEverySender());
  test::LoggingPump pump(state_, log);
  CollectingHandler network;
  network.Subscribe(pump);
  auto pump_until = [&](const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
          pump.Tick();
          return done();
        },
        timeout);
  };

  // A forged reply: it neither reaches the page nor starts the pump.
  const QByteArray forged("\xF5\x00\xE3\x04\x45\x56\x49\x4C\x00\x0D", 10);
  ASSERT_TRUE(stranger.Send(forged, local_port_));
  ASSERT_TRUE(pump_until([&] { return !log.lines.isEmpty(); }, 2s));
  EXPECT_EQ(log.lines, QStringList{IgnoredLine(stranger.Port(), 10)});
  EXPECT_FALSE(state_.UdpPending());
  EXPECT_EQ(state_.UdpCount(), 0u);

  // A flood, with an empty and an oversized datagram among it: no box, one line a
  // second at most, and every datagram counted.
  constexpr int kFlood = 300;
  for (int i = 0; i < kFlood; ++i) {
    const QByteArray d = i == 7 ? QByteArray() : i == 8 ? QByteArray(2000, 'x') : forged;
    ASSERT_TRUE(stranger.Send(d, local_port_)) << i;
    if (i % 50 == 49) QCoreApplication::processEvents();  // keeps the socket buffer from overflowing
  }
  // The device's reply, sent while the flood waits to be counted, is handled, and its
  // sender goes unnamed: only the device is heard.
  const QByteArray reply("\xF5\x00\xE3\x02\x56\x31\x2A\x0D", 8);
  DeviceSends(reply);
  auto counted = [&] {
    int n = 0;
    for (const QString& l : log.lines) {
      if (!l.startsWith(QString::fromUtf8("[UDP]: 忽略来自"))) continue;
      const auto others = QRegularExpression(QString::fromUtf8("另有 (\\d+) 个")).match(l);
      n += 1 + (others.hasMatch() ? others.captured(1).toInt() : 0);
    }
    return n;
  };
  ASSERT_TRUE(pump_until([&] { return counted() == 1 + kFlood && network.frames.size() == 1; }, 5s))
      << log.lines.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(network.frames[0], reply);
  EXPECT_TRUE(log.lines.filter(QString::fromUtf8("以下数据来自")).isEmpty());
  EXPECT_TRUE(ui_.messages.isEmpty()) << ui_.messages.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(endpoint_->DroppedNotices(), 0);

  QStringList ignored;
  std::vector<std::chrono::steady_clock::time_point> times;
  for (int i = 0; i < log.lines.size(); ++i) {
    if (!log.lines[i].startsWith(QString::fromUtf8("[UDP]: 忽略来自"))) continue;
    ignored << log.lines[i];
    times.push_back(log.times[static_cast<std::size_t>(i)]);
  }
  ASSERT_GE(ignored.size(), 2);
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], UdpEndpoint::kIgnoredLinePeriod - 5ms) << i;
  }
  const QRegularExpression shape(QString::fromUtf8("^\\[UDP\\]: 忽略来自 127\\.0\\.0\\.2:%1 的 \\d+ 字节数据"
                                                   "(\\(另有 \\d+ 个数据包被忽略\\))?\\.\r\n$")
                                      .arg(stranger.Port()));
  for (const QString& l : ignored) EXPECT_TRUE(shape.match(l).hasMatch()) << l.toStdString();
  EXPECT_GE(ignored.filter(QString::fromUtf8("另有")).size(), 1) << "the flood was folded into a count";
  // Nothing is left waiting: the endpoint does not wake up while nobody sends.
  EXPECT_FALSE(endpoint_->IgnoredLinePending());
  EXPECT_FALSE(state_.UdpPending());
  endpoint_->SetIgnoredHandler({});
}

TEST_F(UdpEndpointTest, WithABroadcastAddressEveryoneIsHeardAndEachNewSenderIsNamed) {
  Stranger stranger;
  ASSERT_TRUE(stranger.Bound());
  CollectingLog log;
  TrafficLog traffic(log);
  traffic.Watch(*endpoint_);
  // Nothing is sent: only the answers of two hosts are received.
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("255.255.255.255")));
  EXPECT_TRUE(endpoint_->HearsEverySender());
  test::LoggingPump pump(state_, log);
  CollectingHandler network;
  network.Subscribe(pump);

  const QByteArray a("\xF5\x00\xE3\x01\x41\x2A\x0D", 7);
  const QByteArray b("\xF5\x00\xE3\x01\x42\x2A\x0D", 7);
  const QByteArray c("\xF5\x00\xE4\x00\x2A\x0D", 6);
  auto hex = [](const QByteArray& f) {
    return QString::fromUtf8("UDP接收:") +
           HexText(std::span(reinterpret_cast<const uint8_t*>(f.constData()), static_cast<std::size_t>(f.size())));
  };
  auto deliver = [&](const std::function<void()>& send) {
    const std::size_t before = network.frames.size();
    send();
    ASSERT_TRUE(WaitUntil([&] {
      pump.Tick();
      return network.frames.size() == before + 1;
    }));
  };
  deliver([&] { DeviceSends(a); });
  deliver([&] { ASSERT_TRUE(stranger.Send(b, local_port_)); });
  deliver([&] { ASSERT_TRUE(stranger.Send(c, local_port_)); });
  deliver([&] { DeviceSends(c); });

  const QString device = QStringLiteral("127.0.0.1:%1").arg(device_port_);
  const QString other = QStringLiteral("127.0.0.2:%1").arg(stranger.Port());
  auto from = [](const QString& who) {
    return QString::fromUtf8("[UDP]: 以下数据来自 ") + who + QStringLiteral(".\r\n");
  };
  EXPECT_EQ(log.lines, (QStringList{from(device), hex(a), from(other), hex(b), hex(c), from(device), hex(c)}));
  EXPECT_EQ(network.frames, (std::vector<QByteArray>{a, b, c, c}));

  // Reopened towards one host, the other is no longer heard and nobody is named.
  log.lines.clear();
  ASSERT_TRUE(endpoint_->OpenEndpoint(QStringLiteral("127.0.0.1")));
  ASSERT_TRUE(stranger.Send(b, local_port_));
  deliver([&] { DeviceSends(a); });
  EXPECT_EQ(log.lines, (QStringList{IgnoredLine(stranger.Port(), 7), hex(a)}));
  endpoint_->SetIgnoredHandler({});
}

}  // namespace
}  // namespace velmora
