#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <vector>

#include "widgets/log_pane.h"
#include "load/load_probe.h"
#include "pages/page_harness.h"
#include "resources/config_layouts.h"
#include "support/sim_process.h"

namespace velmora::test {
namespace {

struct Sample {
  int rounds = 0;
  long long ms = 0;
  std::size_t heap = 0;
  std::size_t rss = 0;
  qsizetype log_chars = 0;
};

struct SoakRun {
  int completed = 0;
  std::vector<Sample> samples;  // the first is the start
  // Live heap with the Log pane emptied, halfway and at the end: what the run keeps
  // besides the log.
  std::size_t heap_cleared_half = 0;
  std::size_t heap_cleared_end = 0;
  std::size_t rss_cleared_end = 0;
};

// The engineer presses "read CSQ" on the page and waits for the status to say the reply
// was handled, `rounds` times, against velmora-sim over the page's link.
class Soak {
 public:
  Soak(PageHarness& h, QWidget& page, SimProcess& sim) : h_(h), page_(page), sim_(sim) {}

  // False when a reply did not come within a generous time.
  bool RoundTrip() {
    h_.Click(page_, res::kIdcReadCsq);
    if (h_.window->StatusText() != QLatin1String("....")) return false;
    return test::WaitUntil([&] { return h_.window->StatusText() == QLatin1String("Successful!"); },
                           std::chrono::seconds(5));
  }

  SoakRun Run(int rounds, int sample_every) {
    SoakRun run;
    // Once through every path first, so what is measured is the steady state.
    for (int i = 0; i < 50; ++i) {
      if (!RoundTrip()) return run;
    }
    h_.window->Log()->ClearAll();
    sim_.ForgetLines();
    const auto start = std::chrono::steady_clock::now();
    run.samples.push_back(Take(0, start));
    for (int i = 1; i <= rounds; ++i) {
      if (!RoundTrip()) break;
      run.completed = i;
      if (i % sample_every == 0 || i == rounds) {
        sim_.ForgetLines();
        run.samples.push_back(Take(i, start));
      }
      if (i == rounds / 2) {
        h_.window->Log()->ClearAll();
        run.heap_cleared_half = LiveHeapBytes();
      }
    }
    h_.window->Log()->ClearAll();
    run.heap_cleared_end = LiveHeapBytes();
    run.rss_cleared_end = ResidentBytes();
    return run;
  }

 private:
  Sample Take(int rounds, std::chrono::steady_clock::time_point start) {
    Sample s;
    s.rounds = rounds;
    s.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    s.log_chars = h_.window->Log()->AllText().size();
    s.heap = LiveHeapBytes();
    s.rss = ResidentBytes();
    return s;
  }

  PageHarness& h_;
  QWidget& page_;
  SimProcess& sim_;
};

long long Diff(std::size_t a, std::size_t b) { return static_cast<long long>(a) - static_cast<long long>(b); }

void Print(const char* link, const SoakRun& run) {
  const Sample& first = run.samples.front();
  std::printf("%s soak: round trips, ms, live heap growth B, RSS growth B, Log pane chars (emptied halfway)\n", link);
  for (const Sample& s : run.samples) {
    std::printf("  %6d %8lld %+11lld %+11lld %9lld\n", s.rounds, s.ms, Diff(s.heap, first.heap), Diff(s.rss, first.rss),
                static_cast<long long>(s.log_chars));
  }
  const Sample& last = run.samples.back();
  // Over the first half the Log pane only grows: its share per round trip.
  const Sample* half = &first;
  for (const Sample& s : run.samples) {
    if (s.rounds <= last.rounds / 2) half = &s;
  }
  const double n = last.rounds > 0 ? last.rounds : 1;
  const double h = half->rounds > 0 ? half->rounds : 1;
  std::printf("  first half, per round trip: live heap %+.0f B, RSS %+.0f B, Log pane %.0f chars\n",
              Diff(half->heap, first.heap) / h, Diff(half->rss, first.rss) / h, static_cast<double>(half->log_chars) / h);
  std::printf("  with the Log pane emptied: live heap %+lld B halfway, %+lld B at the end (%+.2f B per round trip "
              "over the second half); RSS %+lld B at the end; %.2f ms per round trip\n",
              Diff(run.heap_cleared_half, first.heap), Diff(run.heap_cleared_end, first.heap),
              Diff(run.heap_cleared_end, run.heap_cleared_half) / (n - n / 2), Diff(run.rss_cleared_end, first.rss),
              static_cast<double>(last.ms) / n);
}

enum class Over { Serial, Udp };

SoakRun SoakOver(Over link, int rounds, int sample_every) {
  PageHarness h;
  SimProcess sim;
  if (link == Over::Serial) {
    EXPECT_TRUE(sim.Start({"--no-udp"})) << sim.StartError().toStdString();
    h.TypeInList(h.Serial(), res::kIdcComPort, sim.SerialPath());
    h.Click(h.Serial(), res::kIdcOpenClose);
    EXPECT_TRUE(h.serial.IsOpen());
  } else {
    EXPECT_TRUE(sim.Start({"--no-serial", "--udp-port", QString::number(h.udp_device_port)}))
        << sim.StartError().toStdString();
    h.OpenNetworkOnLoopback();
  }
  if (::testing::Test::HasFailure()) return {};
  Soak soak(h, link == Over::Serial ? static_cast<QWidget&>(h.Serial()) : h.Network(), sim);
  return soak.Run(rounds, sample_every);
}

// Besides the Log pane the tool keeps caches that fill early and then stay (about a
// third of a megabyte, flat after a few thousand round trips).
constexpr long long kCachesBound = 1024 * 1024;
// Over a long second half nothing may pile up: 64 KB over 5,000 round trips is 13 B each.
constexpr long long kSecondHalfBound = 64 * 1024;

void CheckSoak(const SoakRun& run, int rounds) {
  ASSERT_EQ(run.completed, rounds) << "a reply went missing";
  const Sample& first = run.samples.front();
  EXPECT_LE(Diff(run.heap_cleared_end, first.heap), kCachesBound);
  if (rounds >= 2000) {
    EXPECT_LE(Diff(run.heap_cleared_end, run.heap_cleared_half), kSecondHalfBound);
  }
}

TEST(Soak, ThreeHundredRoundTripsOverEachLinkLeaveNothingBehindButTheLog) {
  for (Over link : {Over::Serial, Over::Udp}) {
    SCOPED_TRACE(link == Over::Serial ? "serial" : "udp");
    const SoakRun run = SoakOver(link, 300, 100);
    ASSERT_FALSE(run.samples.empty());
    Print(link == Over::Serial ? "serial" : "udp", run);
    CheckSoak(run, 300);
  }
}

// Not in the regular run (about two minutes per link, more under the sanitizers):
//   load_tests --gtest_also_run_disabled_tests --gtest_filter='DISABLED_LongSoak.*'
TEST(DISABLED_LongSoak, TenThousandRoundTripsOverTheSerialLink) {
  const SoakRun run = SoakOver(Over::Serial, 10'000, 1000);
  ASSERT_FALSE(run.samples.empty());
  Print("serial", run);
  CheckSoak(run, 10'000);
}

TEST(DISABLED_LongSoak, TenThousandRoundTripsOverTheUdpLink) {
  const SoakRun run = SoakOver(Over::Udp, 10'000, 1000);
  ASSERT_FALSE(run.samples.empty());
  Print("udp", run);
  CheckSoak(run, 10'000);
}

}  // namespace
}  // namespace velmora::test
