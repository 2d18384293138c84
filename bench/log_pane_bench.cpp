// Appends 100,000 log entries to a shown Log pane and reports the cost per entry of the
// first and the last 10,000, to show the pane does not slow down as it grows.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <cstdio>

#include "widgets/log_pane.h"
#include "app/main_window.h"
#include "protocol/command_frame.h"
#include "bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_LogPaneAppend100k(benchmark::State& state) {
  constexpr int kEntries = 100000;
  constexpr int kBlock = 10000;
  // The frame's size sets the entry's length: 6 bytes (a command, ~44 characters with
  // its stamp) or 227 (a configuration reply, ~730 characters).
  const std::vector<uint8_t> frame(static_cast<std::size_t>(state.range(0)), 0x5A);
  const QString hex = QString::fromUtf8("串口接收:") + velmora::HexText(frame);
  for (auto _ : state) {
    velmora::LogPane pane;
    pane.resize(400, 700);
    pane.show();
    double first_us = 0, last_us = 0;
    const auto start = Clock::now();
    auto block_start = start;
    for (int i = 1; i <= kEntries; ++i) {
      pane.AppendEntry(velmora::LogStamp(velmora::CurrentLocalTime()) + hex);
      if (i % 100 == 0) QApplication::processEvents();  // scrolling and repaint, as in the running tool
      if (i % kBlock == 0) {
        pane.Flush();  // each block pays for inserting its own entries
        QApplication::processEvents();
        const auto now = Clock::now();
        const double us = std::chrono::duration<double, std::micro>(now - block_start).count() / kBlock;
        if (i == kBlock) first_us = us;
        if (i == kEntries) last_us = us;
        block_start = now;
      }
    }
    const double total_s = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["first10k_us_per_entry"] = first_us;
    state.counters["last10k_us_per_entry"] = last_us;
    state.counters["last_over_first"] = last_us / first_us;
    state.counters["total_s"] = total_s;
    std::printf("log pane, %d-byte frames: 100000 entries in %.2f s; first 10k %.1f us/entry, last 10k %.1f us/entry (x%.2f)\n",
                static_cast<int>(state.range(0)), total_s, first_us, last_us, last_us / first_us);
  }
}
BENCHMARK(BM_LogPaneAppend100k)->Arg(6)->Arg(227)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
