// Appends 100,000 log entries to a shown Log pane and reports the time, the cost per
// entry of the first and the last 10,000 (the pane must not slow down as it grows) and
// the heap the pane holds against the UTF-8 size of the text it shows. Five runs each,
// then the smallest, middle and largest figure beside its goal.
//
//   cmake --preset release && cmake --build --preset release --target log_pane_bench
//   ./build/release/bench/log_pane_bench

#include <benchmark/benchmark.h>

#include <QApplication>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "widgets/log_pane.h"
#include "app/main_window.h"
#include "protocol/command_frame.h"
#include "bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;

std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void BM_LogPaneAppend100k(benchmark::State& state) {
  constexpr int kEntries = 100000;
  constexpr int kBlock = 10000;
  // The frame's size sets the entry's length: 6 bytes (a command, ~44 characters with
  // its stamp) or 227 (a configuration reply, ~730 characters).
  const int frame_size = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frame(static_cast<std::size_t>(frame_size), 0x5A);
  const QString hex = QString::fromUtf8("串口接收:") + velmora::HexText(frame);
  std::vector<double> totals, growth, heap_ratio, extra_per_entry;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t heap0 = HeapInUse();
    velmora::LogPane pane;
    pane.resize(400, 700);
    pane.show();
    QApplication::processEvents();
    double first_us = 0, last_us = 0;
    const auto start = Clock::now();
    auto block_start = start;
    for (int i = 1; i <= kEntries; ++i) {
      pane.AppendEntry(velmora::LogStamp(velmora::CurrentLocalTime()) + hex);
      if (i % 100 == 0) QApplication::processEvents();  // scrolling and repaint, as in the running tool
      if (i % kBlock == 0) {
        pane.Flush();  // each block pays for storing its own entries
        QApplication::processEvents();
        const auto now = Clock::now();
        const double us = std::chrono::duration<double, std::micro>(now - block_start).count() / kBlock;
        if (i == kBlock) first_us = us;
        if (i == kEntries) last_us = us;
        block_start = now;
      }
    }
    const double total_s = std::chrono::duration<double>(Clock::now() - start).count();
    const double heap = static_cast<double>(HeapInUse() - heap0);
    // Outside the timing and the heap figure: what the pane shows, as UTF-8.
    const double text = static_cast<double>(pane.AllText().toUtf8().size());
    totals.push_back(total_s);
    growth.push_back(last_us / first_us);
    heap_ratio.push_back(heap / text);
    extra_per_entry.push_back((heap - text) / kEntries);
    std::printf("log pane, %d-byte frames: 100000 entries in %.3f s; first 10k %.2f us/entry, last 10k %.2f us/entry "
                "(x%.2f); heap %.1f MB for %.1f MB of UTF-8 text (%.2fx, %+.0f bytes per entry beyond the text)\n",
                frame_size, total_s, first_us, last_us, last_us / first_us, heap / 1e6, text / 1e6, heap / text,
                (heap - text) / kEntries);
    std::fflush(stdout);
  }
  const std::string what = "log pane, " + std::to_string(frame_size) + "-byte frames";
  velmora::bench::PrintSpread((what + ", 100000 entries").c_str(), totals, 3, "s", "(goal <= 0.3 s for 227-byte frames)");
  velmora::bench::PrintSpread((what + ", last 10k / first 10k").c_str(), growth, 2, "x", "(goal <= 1.1)");
  velmora::bench::PrintSpread((what + ", heap / UTF-8 text").c_str(), heap_ratio, 2, "x", "(goal <= 2x plus a few dozen bytes per entry)");
  velmora::bench::PrintSpread((what + ", heap beyond the text per entry").c_str(), extra_per_entry, 0, "bytes", "");
}
BENCHMARK(BM_LogPaneAppend100k)->Arg(6)->Arg(227)->Iterations(5)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
