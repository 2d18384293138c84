#include "protocol/receive_pump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#include "protocol/gbk.h"
#include "protocol/pump_driver.h"
#include "support/logging_pump.h"
#include "support/recording_sinks.h"
#include "support/wait.h"

namespace velmora {
namespace {

using test::RecordingHandler;
using test::RecordingLog;

class PumpTest : public ::testing::Test {
 protected:
  PumpTest() {
    for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Firmware}) {
      serial_page.Subscribe(pump, kind, Link::Serial);
      network_page.Subscribe(pump, kind, Link::Udp);
    }
    mqtt_page.Subscribe(pump, ReplyKind::Mqtt, std::nullopt);
  }
  void Serial(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) rx.PutSerialByte(b);
  }
  void Serial(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) rx.PutSerialByte(b);
  }
  void Datagram(const std::vector<uint8_t>& bytes) { rx.PutDatagram(bytes); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) pump.Tick();
  }

  ReceiveState rx;
  RecordingLog log;
  test::LoggingPump pump{rx, log};
  RecordingHandler serial_page, network_page, mqtt_page;
};

const std::vector<uint8_t> kVersionReply{0xF5, 0x00, 0xE3, 0x05, 0x31, 0x2E, 0x30, 0x2E, 0x30, 0x77, 0x0D};

TEST_F(PumpTest, SerialReplyClosesOnTheFifthQuietTickAndGoesToTheSerialPage) {
  Serial(kVersionReply);
  Ticks(4);
  EXPECT_TRUE(serial_page.calls.empty());
  EXPECT_TRUE(log.entries.empty());
  Ticks(1);
  ASSERT_EQ(serial_page.calls.size(), 1u);
  EXPECT_EQ(serial_page.calls[0].code, 0xE3);
  EXPECT_EQ(serial_page.calls[0].link, Link::Serial);
  EXPECT_EQ(serial_page.calls[0].bytes, kVersionReply);
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_EQ(log.entries[0], QString::fromUtf8("串口接收:F5 00 E3 05 31 2E 30 2E 30 77 0D \r\n"));
  // Count back at 0 and gate open: the next burst starts at offset 0.
  EXPECT_EQ(rx.SerialCount(), 0u);
  EXPECT_TRUE(rx.GateOpen());
  EXPECT_FALSE(pump.Pending());
  EXPECT_TRUE(network_page.calls.empty());
}

TEST_F(PumpTest, UdpReplyClosesOnTheThirdTickAndGoesToTheNetworkPage) {
  Datagram(kVersionReply);
  Ticks(2);
  EXPECT_TRUE(network_page.calls.empty());
  Ticks(1);
  ASSERT_EQ(network_page.calls.size(), 1u);
  EXPECT_EQ(network_page.calls[0].link, Link::Udp);
  EXPECT_EQ(log.entries.value(0), QString::fromUtf8("UDP接收:F5 00 E3 05 31 2E 30 2E 30 77 0D \r\n"));
  EXPECT_TRUE(serial_page.calls.empty());
  EXPECT_EQ(rx.UdpCount(), 0u);
}

TEST_F(PumpTest, MqttCodesGoToTheMqttPageWithTheLinkThatCarriedThem) {
  Datagram({0xF5, 0x00, 0xE7, 0x00, 0xDC, 0x0D});
  Serial({0xF5, 0x00, 0xE6, 0x00, 0xDB, 0x0D});
  Ticks(5);
  ASSERT_EQ(mqtt_page.calls.size(), 2u);
  // The serial side is handled first within a tick, but the datagram closed two ticks earlier.
  EXPECT_EQ(mqtt_page.calls[0].code, 0xE7);
  EXPECT_EQ(mqtt_page.calls[0].link, Link::Udp);
  EXPECT_EQ(mqtt_page.calls[1].code, 0xE6);
  EXPECT_EQ(mqtt_page.calls[1].link, Link::Serial);
  EXPECT_TRUE(serial_page.calls.empty());
  EXPECT_TRUE(network_page.calls.empty());
}

TEST_F(PumpTest, AByteEveryTickKeepsTheBurstOpen) {
  for (int i = 0; i < 20; ++i) {
    Serial({static_cast<uint8_t>('a' + i)});
    Ticks(1);
  }
  EXPECT_TRUE(log.entries.empty());
  Ticks(4);
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_EQ(log.entries[0], QString("[UART_RECV]: abcdefghijklmnopqrst\r\n"));
}

TEST_F(PumpTest, TextBurstsAreLoggedAsTextAndRouteNowhere) {
  Serial({0x4F, 0x4B, 0x0D, 0x0A});
  Ticks(5);
  Datagram({'h', 'i', 0x00, 'x'});
  Ticks(3);
  ASSERT_EQ(log.entries.size(), 2);
  EXPECT_EQ(log.entries[0], QString("[UART_RECV]: OK\r\n\r\n"));
  EXPECT_EQ(log.entries[1], QString("[UDP_RECV]: hi\r\n"));  // ends at the first zero byte
  EXPECT_TRUE(serial_page.calls.empty() && network_page.calls.empty() && mqtt_page.calls.empty());
}

TEST_F(PumpTest, DeviceTextIsShownAsGbk) {
  Serial({0xB9, 0xD8, 0xB1, 0xD5});  // "关闭" in GBK
  Ticks(5);
  EXPECT_EQ(log.entries.value(0), QString::fromUtf8("[UART_RECV]: 关闭\r\n"));
}

TEST_F(PumpTest, CodeZeroFailsTheFrameTest) {
  Serial({0xF5, 0x00, 0x00, 0x01, 0x02, 0x0D});
  Ticks(5);
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_EQ(log.entries[0], QString("[UART_RECV]: ") + FromGbk(std::vector<uint8_t>{0xF5}) + "\r\n");
  EXPECT_TRUE(serial_page.calls.empty());
}

TEST_F(PumpTest, ExactlyOneRingOfBytesLeavesTheCountAtZero) {
  Serial(std::vector<uint8_t>(1024, 'x'));
  EXPECT_EQ(rx.SerialCount(), 0u);
  Ticks(5);
  EXPECT_EQ(log.entries.value(0), QString("[UART_RECV]: \r\n"));
}

TEST_F(PumpTest, LongTextBurstShowsItsLengthModulo512) {
  std::vector<uint8_t> text(600);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('A' + i % 26);
  Serial(text);
  Ticks(5);
  ASSERT_EQ(log.entries.size(), 1);
  const QString shown = log.entries[0].mid(QString("[UART_RECV]: ").size()).chopped(2);
  EXPECT_EQ(shown.size(), 88);
  EXPECT_EQ(shown, QString::fromLatin1(reinterpret_cast<const char*>(text.data()), 88));
}

// Several devices answering one broadcast within a closing period: each datagram is its
// own reply, handled in the order it came and logged under its sender, never joined.
TEST_F(PumpTest, DatagramsWithinOneClosingPeriodAreEachHandledInOrderUnderTheirSender) {
  rx.SetNameUdpSenders(true);
  const PeerAddress a{0xC0000215, 21}, b{0xC0000216, 21};
  const std::vector<uint8_t> csq{0xF5, 0x00, 0xEB, 0x01, 0x1F, 0x00, 0x0D};
  rx.PutDatagram(kVersionReply, a);
  Ticks(2);
  rx.PutDatagram(csq, b);
  rx.PutDatagram(std::vector<uint8_t>{'h', 'i'}, b);
  Ticks(1);  // the two that a later one closed are handled at once
  ASSERT_EQ(network_page.calls.size(), 2u);
  EXPECT_EQ(network_page.calls[0].bytes, kVersionReply);
  EXPECT_EQ(network_page.calls[1].bytes, csq);
  Ticks(1);
  EXPECT_EQ(log.entries.size(), 4);
  Ticks(1);  // the last one waits out its own quiet period
  EXPECT_EQ(log.entries,
            QStringList({QString::fromUtf8("[UDP]: 以下数据来自 192.0.2.21:21.\r\n"),
                         QString::fromUtf8("UDP接收:F5 00 E3 05 31 2E 30 2E 30 77 0D \r\n"),
                         QString::fromUtf8("[UDP]: 以下数据来自 192.0.2.22:21.\r\n"),
                         QString::fromUtf8("UDP接收:F5 00 EB 01 1F 00 0D \r\n"), QStringLiteral("[UDP_RECV]: hi\r\n")}));
  EXPECT_FALSE(pump.Pending());
}

TEST_F(PumpTest, DatagramsBeyondWhatCanWaitAreCountedInTheLog) {
  const std::vector<uint8_t> text{'x'};
  for (std::size_t i = 0; i < ReceiveState::kMaxClosedDatagrams + 4; ++i) rx.PutDatagram(text);
  Ticks(3);
  // One pending, kMaxClosedDatagrams waiting, three dropped.
  ASSERT_EQ(log.entries.size(), static_cast<qsizetype>(ReceiveState::kMaxClosedDatagrams) + 2);
  EXPECT_EQ(log.entries[0], QString::fromUtf8("[UDP]: 3 个数据包来得太快,未能处理.\r\n"));
  EXPECT_FALSE(pump.Pending());
}

TEST_F(PumpTest, BytesArrivingWhileAHandlerRunsAreDropped) {
  pump.Subscribe(ReplyKind::Config, Link::Serial, [this](const ReplyFrame&) { rx.PutSerialByte('z'); });
  Serial(kVersionReply);
  Ticks(5);
  EXPECT_EQ(rx.SerialCount(), 0u);
  EXPECT_FALSE(pump.Pending());
}

TEST_F(PumpTest, ReplyPayloadNeverReachesPastTheFrame) {
  // Length byte claims 200 bytes, the burst holds 3.
  const std::vector<uint8_t> burst{0xF5, 0x00, 0xE2, 0xC8, 0x01, 0x02, 0x03, 0x0D};
  const ReplyFrame f{Link::Serial, burst};
  EXPECT_EQ(f.DeclaredLength(), 0xC8);
  EXPECT_EQ(f.Payload().size(), 3u);
  const std::vector<uint8_t> shortest{0xF5, 0x00, 0x0D};
  EXPECT_TRUE(IsReplyFrame(shortest));
  const ReplyFrame s{Link::Udp, shortest};
  EXPECT_EQ(s.DeclaredLength(), 0);
  EXPECT_TRUE(s.Payload().empty());
  EXPECT_TRUE(s.Text().empty());
}

// A USB-serial adapter delivers a 227-byte configuration reply at 115200 baud in
// 62-byte packets about 6 ms apart: five quiet ticks must not cut it into pieces.
TEST_F(PumpTest, ReplyDeliveredInUsbPacketsArrivesWhole) {
  std::vector<uint8_t> reply{0xF5, 0x00, 0xE2, 221};
  for (int i = 0; i < 221; ++i) reply.push_back(static_cast<uint8_t>(i));
  reply.push_back(0x00);
  reply.push_back(0x0D);
  for (std::size_t at = 0; at < reply.size(); at += 62) {
    Serial(std::vector<uint8_t>(reply.begin() + at, reply.begin() + std::min(reply.size(), at + 62)));
    Ticks(6);
    if (at + 62 < reply.size()) {
      EXPECT_TRUE(serial_page.calls.empty()) << "cut after " << at + 62 << " bytes";
    }
  }
  Ticks(5);
  ASSERT_EQ(serial_page.calls.size(), 1u);
  EXPECT_EQ(serial_page.calls[0].bytes, reply);
  EXPECT_EQ(log.entries.size(), 1);
}

TEST_F(PumpTest, AnUnfinishedReplyIsClosedAfterTheGuardTime) {
  Serial({0xF5, 0x00, 0xE2, 0xDD, 0x01, 0x02});
  Ticks(ReceivePump::kSerialGuardTicks - 1);
  EXPECT_TRUE(log.entries.empty());
  Ticks(1);
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_TRUE(log.entries[0].startsWith("[UART_RECV]: "));
  EXPECT_TRUE(rx.GateOpen());
}

TEST_F(PumpTest, TextThatMerelyStartsWithF5IsNotHeld) {
  Serial({0xF5, 'a', 'b'});
  Ticks(5);
  EXPECT_EQ(log.entries.size(), 1);
}

TEST(PumpDriver, TicksOnlyWhileSomethingIsPending) {
  ReceiveState rx;
  RecordingLog log;
  test::LoggingPump pump(rx, log);
  PumpDriver driver(pump, rx);
  EXPECT_FALSE(driver.Ticking());
  rx.PutDatagram(std::vector<uint8_t>{'h', 'i'});
  test::WaitUntil([&] { return !log.entries.isEmpty(); }, std::chrono::seconds(2));
  ASSERT_EQ(log.entries.size(), 1);
  test::WaitUntil([&] { return !driver.Ticking(); }, std::chrono::seconds(2));
  EXPECT_FALSE(driver.Ticking());
  const auto ticks = driver.TickCount();
  EXPECT_GE(ticks, 3u);
  QTest::qWait(50);
  EXPECT_EQ(driver.TickCount(), ticks);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The reader thread keeps storing bytes while the pump's driver is created and
// destroyed on this thread, as at program exit: no call may reach a dead driver.
// ThreadSanitizer and AddressSanitizer are the judges here.
TEST(PumpDriver, ComesAndGoesWhileTheReaderStoresBytes) {
  ReceiveState rx;
  test::RecordingLog log;
  test::LoggingPump pump(rx, log);
  std::atomic<bool> stop{false};
  std::atomic<long> stored{0};
  std::thread reader([&] {
    while (!stop) {
      ++stored;
      rx.PutSerialByte('x');
      rx.ReopenSerial();  // keep the side waking: every byte starts a new burst
      rx.TickSerial(1, 1);
      rx.ReopenSerial();
    }
  });
  while (stored.load() == 0) std::this_thread::yield();
  const long before = stored.load();
  QElapsedTimer cap;
  cap.start();
  int drivers = 0;
  while ((drivers < 200 || stored.load() - before < 5000) && cap.elapsed() < 10000) {
    auto driver = std::make_unique<PumpDriver>(pump, rx);
    QCoreApplication::processEvents();
    ++drivers;
  }
  const long during = stored.load() - before;
  stop = true;
  reader.join();
  QCoreApplication::processEvents();
  EXPECT_GE(during, 5000);  // the drivers really came and went under traffic
}

}  // namespace
}  // namespace velmora
