#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/receive_pump.h"
#include "protocol/receive_state.h"
#include "support/logging_pump.h"
#include "support/pty_pair.h"
#include "transport/serial_port.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// The program's serial port, except that its reader can be stopped in the middle of
// handing bytes over, as when the system keeps the reader thread from running.
class HeldSerial : public SerialPort {
 public:
  explicit HeldSerial(ReceiveState& state) : HeldSerial(state, std::make_shared<Hold>()) {}
  ~HeldSerial() override {
    Release();  // a reader held in the sink would keep the port from closing
    state_.SetSerialInputProbe({});
  }
  // The reader stops after handing over `bytes` more.
  void HoldAfter(int bytes) {
    std::lock_guard lock(hold_->mutex);
    hold_->after = bytes;
  }
  bool WaitHeld() {
    std::unique_lock lock(hold_->mutex);
    return hold_->cv.wait_for(lock, 3s, [&] { return hold_->held; });
  }
  void Release() {
    std::lock_guard lock(hold_->mutex);
    hold_->held = false;
    hold_->after = 0;
    hold_->cv.notify_all();
  }

 private:
  struct Hold {
    std::mutex mutex;
    std::condition_variable cv;
    int after = 0;
    bool held = false;

    void Pass() {
      std::unique_lock lock(mutex);
      if (after > 0 && --after == 0) {
        held = true;
        cv.notify_all();
        cv.wait(lock, [&] { return !held; });
      }
    }
  };

  HeldSerial(ReceiveState& state, std::shared_ptr<Hold> hold)
      : SerialPort([&state, hold](uint8_t byte) {
          state.PutSerialByte(byte);
          hold->Pass();
        }),
        state_(state),
        hold_(std::move(hold)) {
    state_.SetSerialInputProbe([this] { return InputWaiting(); });
  }

  ReceiveState& state_;
  std::shared_ptr<Hold> hold_;
};

struct Entries : LogSink {
  void AppendLog(const QString& text) override { entries << text; }
  QStringList entries;
};

bool Eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

Bytes Text(int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>('a' + i % 26));
  return b;
}

struct HeldReader : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 0));
  }
  ReceiveState state;
  Entries log;
  test::LoggingPump pump{state, log};
  PtyPair pty;
  HeldSerial port{state};
};

TEST_F(HeldReader, ABurstIsNotCutWhileItsBytesWaitForTheReader) {
  EXPECT_FALSE(port.InputWaiting());
  port.HoldAfter(10);
  ASSERT_TRUE(pty.WriteMaster(Text(40)));
  ASSERT_TRUE(port.WaitHeld());
  EXPECT_TRUE(port.InputWaiting());

  // Twenty ticks of a busy machine: ten bytes are in, thirty still on their way.
  for (int i = 0; i < 20; ++i) pump.Tick();
  EXPECT_TRUE(log.entries.isEmpty()) << log.entries.join(QLatin1Char('|')).toStdString();

  port.Release();
  ASSERT_TRUE(Eventually([&] { return state.SerialCount() == 40 && !port.InputWaiting(); }));
  for (int i = 0; i < ReceivePump::kSerialCloseTicks; ++i) pump.Tick();
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_EQ(log.entries[0], QStringLiteral("[UART_RECV]: ") + QString::fromLatin1("abcdefghijklmnopqrstuvwxyzabcdefghijklmn") +
                                QStringLiteral("\r\n"));
}

TEST_F(HeldReader, AReaderThatNeverComesBackHoldsTheBurstNoLongerThanAnUnfinishedReply) {
  port.HoldAfter(10);
  ASSERT_TRUE(pty.WriteMaster(Text(40)));
  ASSERT_TRUE(port.WaitHeld());
  for (int i = 1; i < ReceivePump::kSerialGuardTicks; ++i) pump.Tick();
  EXPECT_TRUE(log.entries.isEmpty());
  pump.Tick();
  ASSERT_EQ(log.entries.size(), 1);
  EXPECT_EQ(log.entries[0], QStringLiteral("[UART_RECV]: abcdefghij\r\n"));
  port.Release();
  port.Close();
  EXPECT_FALSE(port.InputWaiting());
}

}  // namespace
}  // namespace velmora::test
