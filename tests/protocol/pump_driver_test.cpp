#include "protocol/pump_driver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <vector>

#include "support/logging_pump.h"
#include "support/recording_sinks.h"

namespace velmora {
namespace {

using Clock = ReceiveState::Clock;
using std::chrono::milliseconds;

// Runs the event loop until the log holds `n` entries, noting when each arrived.
std::vector<Clock::time_point> WaitForEntries(const test::RecordingLog& log, int n) {
  std::vector<Clock::time_point> at;
  QElapsedTimer cap;
  cap.start();
  while (log.entries.size() < n && cap.elapsed() < 3000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    while (static_cast<int>(at.size()) < log.entries.size()) at.push_back(Clock::now());
  }
  return at;
}

// The driver closes a burst once its line has been quiet for the whole gap after the
// last byte, never sooner, with one wake-up for a burst that does not move, and a byte
// that arrives while the burst waits moves the moment rather than cutting the burst.
TEST(PumpDriver, ClosesABurstWhenItsLineHasBeenQuietForTheWholeGapAfterTheLastByte) {
  ReceiveState rx;
  test::RecordingLog log;
  test::LoggingPump pump(rx, log);
  PumpDriver driver(pump, rx);

  const auto sent = Clock::now();
  rx.PutDatagram(std::vector<uint8_t>{'h', 'i'});
  auto at = WaitForEntries(log, 1);
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_GE(at[0] - sent, ReceivePump::kUdpCloseTicks * ReceiveState::kTick);
  EXPECT_EQ(driver.TickCount(), static_cast<std::uint64_t>(ReceivePump::kUdpCloseTicks));
  EXPECT_EQ(driver.WakeupCount(), 1u);
  EXPECT_FALSE(driver.Ticking());

  // Serial text, then two more bytes while the burst waits to close.
  for (uint8_t b : {'O', 'K'}) rx.PutSerialByte(b);
  const auto first = Clock::now();
  Clock::time_point last;
  QTimer::singleShot(2, [&] {
    rx.PutSerialByte('\r');
    rx.PutSerialByte('\n');
    last = Clock::now();
  });
  at = WaitForEntries(log, 2);
  ASSERT_GE(log.entries.size(), 2);
  ASSERT_NE(last, Clock::time_point{});
  const auto gap = ReceivePump::kSerialCloseTicks * ReceiveState::kTick;
  if (last - first < gap) {
    // The usual case: the late bytes kept the burst open.
    ASSERT_EQ(log.entries.size(), 2);
    EXPECT_EQ(log.entries[1], QStringLiteral("[UART_RECV]: OK\r\n\r\n"));
    EXPECT_GE(at[1] - last, gap);
  } else {
    // A stalled machine let the line fall quiet in between: two bursts, each on time.
    at = WaitForEntries(log, 3);
    ASSERT_EQ(log.entries.size(), 3);
    EXPECT_GE(at[1] - first, gap);
    EXPECT_GE(at[2] - last, gap);
  }
  EXPECT_FALSE(driver.Ticking());
}

}  // namespace
}  // namespace velmora
