// The tests' LAN of network namespaces (tests/support/test_lan.h): the time to make it
// (Up) and to remove it (Down), with 3 device hosts and with 128, five runs each. It
// needs root; elsewhere it says why and measures nothing. The kernel finishes tearing
// the namespaces down after Down has returned.
//
//   cmake --preset release && cmake --build --preset release --target lan_setup_bench
//   sudo ./build/release/bench/lan_setup_bench

#include <QElapsedTimer>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/test_lan.h"

namespace {

void BM_LanUpDown(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  std::vector<double> up_ms, down_ms;
  for (auto _ : state) {
    velmora::test::TestLan lan;
    QString why;
    QElapsedTimer t;
    t.start();
    if (!lan.Up(devices, &why)) {
      std::printf("test LAN: not measured: %s\n", why.toLocal8Bit().constData());
      state.SkipWithError("the test LAN cannot be made here");
      return;
    }
    up_ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    t.restart();
    lan.Down();
    down_ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  const std::string what = "test LAN, host 0 and " + std::to_string(devices) + " device hosts";
  velmora::bench::PrintSpread((what + ", Up").c_str(), up_ms, 0, "ms", "");
  velmora::bench::PrintSpread((what + ", Down").c_str(), down_ms, 0, "ms", "");
}
BENCHMARK(BM_LanUpDown)->Arg(3)->Arg(128)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
