// How long the serial port keeps the user-interface thread: Open, Close (idle, under
// traffic, after the far side vanished), Write of a frame, Write on a stalled line, and
// how soon a received byte reaches the port's sink. Runs on pseudo-terminal pairs.

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "transport/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using velmora::test::PtyPair;

class CountingSerial : public velmora::SerialPort {
 public:
  CountingSerial() : CountingSerial(std::make_shared<Counter>()) {}
  void WaitFor(std::size_t n) {
    std::unique_lock lock(count_->mutex);
    count_->cv.wait_for(lock, std::chrono::seconds(5), [&] { return count_->n >= n; });
  }
  std::size_t Count() {
    std::lock_guard lock(count_->mutex);
    return count_->n;
  }

 private:
  struct Counter {
    std::mutex mutex;
    std::condition_variable cv;
    std::size_t n = 0;
  };

  explicit CountingSerial(std::shared_ptr<Counter> count)
      : SerialPort([count](uint8_t) {
          std::lock_guard lock(count->mutex);
          ++count->n;
          count->cv.notify_all();
        }),
        count_(std::move(count)) {}

  std::shared_ptr<Counter> count_;
};

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The bound is about the worst call, not the mean: keep the longest one as well.
struct Longest {
  double seconds = 0;
  double Take(double s) {
    if (s > seconds) seconds = s;
    return s;
  }
  void Report(benchmark::State& state) const { state.counters["max_ms"] = seconds * 1000.0; }
};

void BM_Open(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool ok = port.Open(pty.SlavePath(), 115200, 0);
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    if (!ok) state.SkipWithError("open failed");
    port.Close();
  }
  longest.Report(state);
}
BENCHMARK(BM_Open)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CloseIdle(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  for (auto _ : state) {
    port.Open(pty.SlavePath(), 115200, 0);
    const auto t0 = Clock::now();
    port.Close();
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
  }
  state.counters["stray_readers"] = static_cast<double>(port.StrayReaders());
  longest.Report(state);
}
BENCHMARK(BM_CloseIdle)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CloseUnderTraffic(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  std::atomic<bool> stop{false};
  std::thread device([&] {
    std::vector<uint8_t> data(512, 0x5A);
    while (!stop) {
      if (::write(pty.MasterFd(), data.data(), data.size()) < 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  });
  for (auto _ : state) {
    port.Open(pty.SlavePath(), 115200, 0);
    port.WaitFor(port.Count() + 4096);
    const auto t0 = Clock::now();
    port.Close();
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    ::tcflush(pty.SlaveFd(), TCIFLUSH);
  }
  stop = true;
  device.join();
  state.counters["stray_readers"] = static_cast<double>(port.StrayReaders());
  longest.Report(state);
}
BENCHMARK(BM_CloseUnderTraffic)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CloseAfterFarSideVanished(benchmark::State& state) {
  Longest longest;
  std::size_t strays = 0;
  for (auto _ : state) {
    PtyPair pty;
    CountingSerial port;
    port.Open(pty.SlavePath(), 115200, 0);
    pty.CloseMaster();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto t0 = Clock::now();
    port.Close();
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    strays += port.StrayReaders();
  }
  state.counters["stray_readers"] = static_cast<double>(strays);
  longest.Report(state);
}
BENCHMARK(BM_CloseAfterFarSideVanished)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WriteFrame(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  port.Open(pty.SlavePath(), 115200, 0);
  std::vector<uint8_t> data(static_cast<std::size_t>(state.range(0)), 0xA5);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool ok = port.Write(data.data(), data.size());
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    if (!ok) state.SkipWithError("write failed");
    pty.DrainMaster(std::chrono::milliseconds(0));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  longest.Report(state);
}
BENCHMARK(BM_WriteFrame)->Arg(6)->Arg(227)->Arg(1030)->Arg(2500)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_WriteOnStalledLine(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  port.Open(pty.SlavePath(), 115200, 0);
  pty.StopOutput();
  std::vector<uint8_t> data(227, 0xA5);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool ok = port.Write(data.data(), data.size());
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    if (ok) state.SkipWithError("a stalled line reported success");
  }
  longest.Report(state);
}
BENCHMARK(BM_WriteOnStalledLine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WriteAfterFarSideVanished(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  port.Open(pty.SlavePath(), 115200, 0);
  pty.CloseMaster();
  std::vector<uint8_t> data(227, 0xA5);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool ok = port.Write(data.data(), data.size());
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
    if (ok) state.SkipWithError("a vanished device reported success");
  }
  longest.Report(state);
}
BENCHMARK(BM_WriteAfterFarSideVanished)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ByteToSink(benchmark::State& state) {
  Longest longest;
  PtyPair pty;
  CountingSerial port;
  port.Open(pty.SlavePath(), 115200, 0);
  const uint8_t byte = 0x0D;
  for (auto _ : state) {
    const std::size_t want = port.Count() + 1;
    const auto t0 = Clock::now();
    if (::write(pty.MasterFd(), &byte, 1) != 1) state.SkipWithError("write failed");
    port.WaitFor(want);
    state.SetIterationTime(longest.Take(Seconds(t0, Clock::now())));
  }
  longest.Report(state);
}
BENCHMARK(BM_ByteToSink)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the reader runs a Qt event loop
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
