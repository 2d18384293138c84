// The Log pane at the scale of a long soak: 1,000,000 entries of a 227-byte configuration
// reply, each as the Log shows it (its stamp line, "串口接收:" and the frame's hex text).
// Reports the time to append them all to a shown pane; the memory the pane then holds, by
// the store's own count and by the growth of the process's resident memory, against the
// UTF-8 size of its text; and finds from the top: a match in the first entry, one in the
// last entry, and needles the log does not hold (every line read), ASCII and Chinese. Five
// runs, then the smallest, middle and largest figure beside its goal.
//
//   cmake --preset release && cmake --build --preset release --target log_soak_bench
//   ./build/release/bench/log_soak_bench

#include <benchmark/benchmark.h>

#include <QApplication>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "bench_support.h"
#include "log/traffic_log.h"
#include "protocol/command_frame.h"
#include "widgets/log_pane.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEntries = 1000000;
constexpr std::size_t kReplyBytes = 227;
constexpr double kMemoryGoalRatio = 1.1;
constexpr double kMemoryGoalPerEntry = 60;

// This thread's CPU time: beside the wall time it shows what a busy machine adds.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Resident bytes of the whole process: whatever the store takes, from the heap or mapped
// on its own, shows here.
double Resident() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// A configuration reply's bytes: lead, code, a payload that varies, the closing byte.
std::vector<uint8_t> Reply() {
  std::vector<uint8_t> r(kReplyBytes);
  r[0] = 0xF5;
  r[1] = 0x00;
  r[2] = 0xE1;
  for (std::size_t i = 3; i + 1 < r.size(); ++i) r[i] = static_cast<uint8_t>(i * 37 + 11);
  r.back() = 0x0D;
  return r;
}

// The UTF-8 bytes of what the pane shows, a line end counting one.
double TextBytes(const velmora::LogText& text) {
  double bytes = static_cast<double>(text.LineCount() - 1);
  for (qsizetype i = 0; i < text.LineCount(); ++i) bytes += static_cast<double>(text.LineBytes(i).size());
  return bytes;
}

struct Took {
  double wall;
  double cpu;
};

template <typename F>
Took Time(F f) {
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  f();
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu0};
}

// A find from the top, in milliseconds.
Took FindMs(velmora::LogPane& pane, const QString& needle, bool* found) {
  pane.SetCaret(0);
  const Took t = Time([&] { *found = pane.Find(needle, velmora::LogPane::FindFrom::Next); });
  return {1000 * t.wall, 1000 * t.cpu};
}

void BM_LogPaneSoak(benchmark::State& state) {
  const std::vector<uint8_t> reply = Reply();
  velmora::ClosedBurst burst;
  burst.link = velmora::Link::Serial;
  burst.bytes = reply;
  burst.is_reply = true;
  const QString line = velmora::ReceivedLine(burst);
  std::vector<double> append_s, append_cpu_s, store_goal_ratio, rss_goal_ratio, rss_per_entry;
  std::vector<double> first_ms, last_ms, absent_ms, absent_cjk_ms, find_cpu_ms;
  bool right = true;
  for (auto _ : state) {
    malloc_trim(0);
    const double rss0 = Resident();
    {
      velmora::LogPane pane;
      pane.resize(400, 700);
      pane.show();
      QApplication::processEvents();
      const Took append = Time([&] {
        for (int i = 1; i <= kEntries; ++i) {
          pane.AppendEntry(velmora::LogStamp(velmora::CurrentLocalTime()) + line);
          if (i % 100 == 0) QApplication::processEvents();  // flushes and repaints, as in the running tool
        }
        pane.AppendEntry(QStringLiteral("[FOTA]: Upgrade Complete\r\n"));
        pane.Flush();
        QApplication::processEvents();
      });
      append_s.push_back(append.wall);
      append_cpu_s.push_back(append.cpu);
      // Nothing trimmed first: the heap the appends left behind counts too.
      const double rss = Resident() - rss0;
      const double store = static_cast<double>(pane.Text().Footprint());
      const double text = TextBytes(pane.Text());
      const double goal = kMemoryGoalRatio * text + kMemoryGoalPerEntry * kEntries;
      store_goal_ratio.push_back(store / goal);
      rss_goal_ratio.push_back(rss / goal);
      rss_per_entry.push_back((rss - text) / kEntries);

      bool found = false;
      const Took first = FindMs(pane, QStringLiteral("00 e1 7a 9f"), &found);  // bytes 1 to 4 of the first reply
      right = right && found && pane.CaretPosition() < line.size() + 40;
      const Took last = FindMs(pane, QStringLiteral("upgrade complete"), &found);
      right = right && found && pane.Text().PosAt(pane.CaretPosition()).line == pane.Text().LineCount() - 2;
      const Took absent = FindMs(pane, QStringLiteral("timeout"), &found);
      right = right && !found;
      const Took absent_cjk = FindMs(pane, QString::fromUtf8("超时"), &found);
      right = right && !found;
      first_ms.push_back(first.wall);
      last_ms.push_back(last.wall);
      absent_ms.push_back(absent.wall);
      absent_cjk_ms.push_back(absent_cjk.wall);
      find_cpu_ms.push_back(std::max({first.cpu, last.cpu, absent.cpu, absent_cjk.cpu}));

      std::printf("log pane soak: %d entries of a %zu-byte reply in %.3f s (CPU %.3f s); %.1f MB of UTF-8 text, "
                  "goal %.1f MB; the store holds %.1f MB (%.3fx the text), resident memory grew %.1f MB (%.3fx, "
                  "%+.0f bytes per entry beyond the text); find: first entry %.2f ms, last entry %.1f ms, no match "
                  "%.1f ms, no match Chinese %.1f ms\n",
                  kEntries, kReplyBytes, append.wall, append.cpu, text / 1e6, goal / 1e6, store / 1e6, store / text,
                  rss / 1e6, rss / text, rss_per_entry.back(), first.wall, last.wall, absent.wall, absent_cjk.wall);
      std::fflush(stdout);
    }
  }
  if (!right) std::printf("log pane soak: WRONG RESULT (a match missed or a false match)\n");
  using velmora::bench::PrintSpread;
  PrintSpread("log pane soak, 1000000 entries appended", append_s, 3, "s", "(goal <= 2.5 s)");
  PrintSpread("log pane soak, 1000000 entries appended, CPU", append_cpu_s, 3, "s",
              "(the wall time on an idle machine)");
  PrintSpread("log pane soak, store's own count / (1.1 x text + 60 bytes an entry)", store_goal_ratio, 3, "x",
              "(goal <= 1)");
  PrintSpread("log pane soak, resident growth / (1.1 x text + 60 bytes an entry)", rss_goal_ratio, 3, "x",
              "(goal <= 1)");
  PrintSpread("log pane soak, resident growth beyond the text per entry", rss_per_entry, 0, "bytes", "");
  PrintSpread("log pane soak, find, match in the first entry", first_ms, 2, "ms", "(goal <= 400 ms)");
  PrintSpread("log pane soak, find, match in the last entry", last_ms, 1, "ms", "(goal <= 400 ms)");
  PrintSpread("log pane soak, find, no match", absent_ms, 1, "ms", "(goal <= 400 ms)");
  PrintSpread("log pane soak, find, no match, Chinese", absent_cjk_ms, 1, "ms", "(goal <= 400 ms)");
  PrintSpread("log pane soak, find, slowest of the four, CPU", find_cpu_ms, 1, "ms", "");
}
BENCHMARK(BM_LogPaneSoak)->Iterations(5)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
