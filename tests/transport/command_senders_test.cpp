#include "transport/command_senders.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QUdpSocket>

#include <chrono>
#include <vector>

#include "protocol/command_frame.h"
#include "protocol/receive_state.h"
#include "support/fake_modal_ui.h"
#include "support/pty_pair.h"
#include "support/udp_test_port.h"
#include "support/wait.h"
#include "transport/serial_port.h"
#include "transport/udp_endpoint.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

const QString kReadConfigHex = QStringLiteral("F5 80 E2 00 57 0D \r\n");

QByteArray NextDatagram(QUdpSocket& socket, std::chrono::milliseconds timeout) {
  if (!test::WaitUntil([&] { return socket.hasPendingDatagrams(); }, timeout)) return {};
  QByteArray data(static_cast<qsizetype>(socket.pendingDatagramSize()), '\0');
  socket.readDatagram(data.data(), data.size());
  return data;
}

TEST(SendCommandSerial, WritesWholeFramesOnlyAndAlwaysGivesTheirHexText) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ReceiveState state;
  SerialPort port(state);
  QString hex;
  EXPECT_FALSE(SendCommandSerial(port, cmd::kReadConfig, {}, hex)) << "port closed";
  EXPECT_EQ(hex, kReadConfigHex) << "the page logs the frame even when nothing went out";

  ASSERT_TRUE(port.Open(pty.SlavePath(), 9600, 0));
  EXPECT_TRUE(SendCommandSerial(port, cmd::kReadConfig, {}, hex));
  EXPECT_EQ(hex, kReadConfigHex);
  EXPECT_EQ(pty.ReadMaster(6, 2s), (std::vector<uint8_t>{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D}));

  const std::vector<uint8_t> record(221, 0x0D);  // end bytes inside the payload go out unescaped
  EXPECT_TRUE(SendCommandSerial(port, cmd::kWriteConfig, record, hex));
  const auto sent = pty.ReadMaster(227, 2s);
  ASSERT_EQ(sent.size(), 227u);
  EXPECT_EQ(sent[3], 0xDD);
  EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 4, sent.begin() + 225), record);

  EXPECT_FALSE(SendCommandSerial(port, cmd::kWriteConfig, std::vector<uint8_t>(256, 1), hex));
  EXPECT_TRUE(hex.isEmpty());
  EXPECT_TRUE(pty.DrainMaster(100ms).empty()) << "an oversized payload sends nothing";
}

TEST(SendCommandUdp, SendsOneDatagramPerFrameAndNothingOversized) {
  ReceiveState state;
  test::FakeModalUi ui;
  QUdpSocket device;
  test::NoProxy(device);
  ASSERT_TRUE(device.bind(QHostAddress::AnyIPv4, 0));
  UdpEndpoint endpoint(state, ui, test::FreeUdpPort(), device.localPort());

  QString hex;
  EXPECT_FALSE(SendCommandUdp(endpoint, cmd::kReadConfig, {}, hex));
  EXPECT_EQ(hex, kReadConfigHex);
  ASSERT_EQ(ui.messages.size(), 1) << "endpoint closed";
  EXPECT_TRUE(ui.messages[0].startsWith(QString::fromUtf8("UDP发送失败,请先打开UDP服务:")));

  ASSERT_TRUE(endpoint.OpenEndpoint(QStringLiteral("127.0.0.1")));
  const std::vector<uint8_t> clock{0x99, 0x12, 0x31, 0x23, 0x59, 0x59};
  EXPECT_TRUE(SendCommandUdp(endpoint, cmd::kSyncClock, clock, hex));
  const auto frame = *BuildCommandFrame(cmd::kSyncClock, clock);
  EXPECT_EQ(hex, HexText(frame));
  EXPECT_EQ(NextDatagram(device, 2s), QByteArray(reinterpret_cast<const char*>(frame.data()), 12));

  EXPECT_FALSE(SendCommandUdp(endpoint, cmd::kWriteMqtt, std::vector<uint8_t>(300, 1), hex));
  EXPECT_TRUE(hex.isEmpty());
  EXPECT_TRUE(NextDatagram(device, 200ms).isEmpty());
  EXPECT_EQ(ui.messages.size(), 1);
}

}  // namespace
}  // namespace velmora
