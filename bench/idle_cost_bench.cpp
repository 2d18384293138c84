// What the running main window costs with no traffic: wake-ups of the user-interface
// thread's event loop and CPU time, with the pump driven on demand (the tool's way), five
// runs, and once with a 1 ms timer that never stops, for comparison.
//
//   cmake --preset release && cmake --build --preset release --target idle_cost_bench
//   ./build/release/bench/idle_cost_bench

#include <benchmark/benchmark.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "transport/app_services.h"
#include "app/main_window.h"
#include "widgets/qt_modal_ui.h"
#include "protocol/pump_driver.h"
#include "bench_support.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void RunIdle(benchmark::State& state, bool continuous) {
  const int seconds = static_cast<int>(state.range(0));
  std::vector<double> wakeups_per_s, cpu_share;
  for (auto _ : state) {
    velmora::ReceiveState rx;
    velmora::QtModalUi modal;
    velmora::VekSerial serial(rx);
    velmora::CUdpSocket udp(rx, modal);
    velmora::AppServices services{rx, modal, serial, udp};
    velmora::CMorvaneDlg window(services);
    window.show();
    std::unique_ptr<velmora::PumpDriver> always;
    velmora::ReceiveState rx2;
    if (continuous) {
      always = std::make_unique<velmora::PumpDriver>(window.Pump(), rx2, velmora::PumpDriver::Mode::Continuous);
    }
    // Let start-up work (first paints, deferred layout) finish before counting.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    long wakeups = 0;
    const auto counter = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                          [&wakeups] { ++wakeups; });
    const std::uint64_t pump0 = window.Driver().WakeupCount();
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    loop.exec();
    const double cpu = CpuSeconds() - cpu0;
    const double wall_s = static_cast<double>(wall.elapsed()) / 1000.0;
    QObject::disconnect(counter);
    const auto pump = window.Driver().WakeupCount() - pump0;
    // Entering the loop counts once, and the single shot that ends it wakes it once.
    wakeups -= 2;
    wakeups_per_s.push_back(static_cast<double>(wakeups) / wall_s);
    cpu_share.push_back(100.0 * cpu / wall_s);
    state.counters["wakeups"] = static_cast<double>(wakeups);
    std::printf("idle %s: %ld event-loop wake-ups besides entering the loop and leaving it, %llu of the pump's timer, "
                "%.3f s CPU in %.1f s = %.3f %% of one core\n",
                continuous ? "with a continuous 1 ms timer" : "with the pump on demand", wakeups,
                static_cast<unsigned long long>(pump), cpu, wall_s, 100.0 * cpu / wall_s);
    std::fflush(stdout);
  }
  const char* what = continuous ? "idle, continuous 1 ms timer" : "idle, pump on demand";
  velmora::bench::PrintSpread((std::string(what) + ", event-loop wake-ups per second").c_str(), wakeups_per_s, 2, "",
                              continuous ? "" : "(goal: 0)");
  velmora::bench::PrintSpread((std::string(what) + ", CPU").c_str(), cpu_share, 3, "% of one core", "");
}

void BM_IdleOnDemand(benchmark::State& state) { RunIdle(state, false); }
void BM_IdleContinuous1ms(benchmark::State& state) { RunIdle(state, true); }
BENCHMARK(BM_IdleOnDemand)->Arg(3)->Iterations(5)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleContinuous1ms)->Arg(3)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
