#pragma once
// What the benchmark programs share: a main that runs Google Benchmark inside a Qt
// application (offscreen unless told otherwise), and the figures they print. Message boxes,
// pseudo-terminals, loopback ports and the simulator come from the tests' own helpers.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace velmora::bench {

// Smallest, middle and largest of a figure over several runs: a noisy machine shows as
// spread rather than as a false win.
struct Spread {
  double min = 0, median = 0, max = 0;
};
inline Spread SpreadOf(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return {v.front(), median, v.back()};
}

// The value below which a share `p` (0..1) of `v` lies.
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// One line: "<what> over n runs: min a / median b / max c <unit>  <beside>".
inline void PrintSpread(const char* what, const std::vector<double>& runs, int decimals, const char* unit,
                        const char* beside) {
  const Spread s = SpreadOf(runs);
  std::printf("%s over %zu runs: min %.*f / median %.*f / max %.*f %s  %s\n", what, runs.size(), decimals, s.min,
              decimals, s.median, decimals, s.max, unit, beside);
  std::fflush(stdout);
}

// `before_app` runs before the application is created (e.g. to set process options).
inline int RunQtBenchmarks(int argc, char** argv, void (*before_app)() = nullptr) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A window that talks to devices records them: in a register of the run's own, not the
  // user's.
  QTemporaryDir register_dir;
  qputenv("VELMORA_REGISTER", (QStringLiteral("sqlite:") + register_dir.path() + QStringLiteral("/register.sqlite")).toUtf8());
  if (before_app) before_app();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace velmora::bench
