// CPU cost of the running main window with no traffic, over 10 s of event loop, with
// the pump ticking on demand (the tool's way) and with a 1 ms timer that never stops.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

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
    QApplication::processEvents();
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds() - cpu0;
    const double share = 100.0 * cpu / (wall.elapsed() / 1000.0);
    state.counters["cpu_percent_of_one_core"] = share;
    std::printf("idle %s: %.3f s CPU in %.1f s = %.3f %% of one core\n",
                continuous ? "with a continuous 1 ms timer" : "with on-demand ticking", cpu,
                wall.elapsed() / 1000.0, share);
  }
}

void BM_IdleOnDemand(benchmark::State& state) { RunIdle(state, false); }
void BM_IdleContinuous1ms(benchmark::State& state) { RunIdle(state, true); }
BENCHMARK(BM_IdleOnDemand)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleContinuous1ms)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
