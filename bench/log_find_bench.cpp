// Find in a Log pane of 100,000 entries: the time from a search to its match selected, for
// a match at the far end of the log (the search goes round almost all of it) and for a
// needle the log does not hold (it reads every line), ASCII and Chinese. Entries of a command frame (~44
// characters with the stamp) and of a configuration reply (~730). Five runs each, then
// the smallest, middle and largest figure beside the goal.
//
//   cmake --preset release && cmake --build --preset release --target log_find_bench
//   ./build/release/bench/log_find_bench

#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "bench_support.h"
#include "protocol/command_frame.h"
#include "widgets/log_pane.h"

namespace {

using Clock = std::chrono::steady_clock;

double TimeFind(velmora::LogPane& pane, const QString& needle, velmora::LogPane::FindFrom from, bool* found) {
  const auto start = Clock::now();
  *found = pane.Find(needle, from);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_LogFind100k(benchmark::State& state) {
  constexpr int kEntries = 100000;
  const int frame_size = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frame(static_cast<std::size_t>(frame_size), 0x5A);
  const QString hex = QString::fromUtf8("串口接收:") + velmora::HexText(frame) + QStringLiteral("\r\n");
  velmora::LogPane pane;
  pane.resize(400, 700);
  pane.show();
  for (int i = 0; i < kEntries; ++i) pane.AppendEntry(velmora::LogStamp(velmora::CurrentLocalTime()) + hex);
  pane.AppendEntry(QStringLiteral("[FOTA]: Upgrade Complete\r\n"));
  pane.Flush();
  QApplication::processEvents();
  std::vector<double> far_ms, absent_ms, absent_cjk_ms;
  bool all_found = true, none_found = true;
  for (auto _ : state) {
    bool found = false;
    // From the top, forward: the only match is the last entry.
    pane.SetCaret(0);
    far_ms.push_back(TimeFind(pane, QStringLiteral("upgrade complete"), velmora::LogPane::FindFrom::Next, &found));
    all_found = all_found && found;
    pane.SetCaret(0);
    absent_ms.push_back(TimeFind(pane, QStringLiteral("timeout"), velmora::LogPane::FindFrom::Next, &found));
    none_found = none_found && !found;
    pane.SetCaret(0);
    absent_cjk_ms.push_back(TimeFind(pane, QString::fromUtf8("超时"), velmora::LogPane::FindFrom::Next, &found));
    none_found = none_found && !found;
    std::printf("log find, %d-byte frames, %d entries: match at the far end %.1f ms, no match %.1f ms, "
                "no match of a Chinese needle %.1f ms\n",
                frame_size, kEntries, far_ms.back(), absent_ms.back(), absent_cjk_ms.back());
    std::fflush(stdout);
  }
  if (!all_found || !none_found) std::printf("log find: WRONG RESULT (a match missed or a false match)\n");
  const std::string what = "log find, " + std::to_string(frame_size) + "-byte frames, 100000 entries";
  velmora::bench::PrintSpread((what + ", match at the far end").c_str(), far_ms, 1, "ms", "(goal <= 200 ms)");
  velmora::bench::PrintSpread((what + ", no match").c_str(), absent_ms, 1, "ms", "(goal <= 200 ms)");
  velmora::bench::PrintSpread((what + ", no match, Chinese").c_str(), absent_cjk_ms, 1, "ms", "(goal <= 200 ms)");
}
BENCHMARK(BM_LogFind100k)->Arg(6)->Arg(227)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
