// Start-up to a painted window: the time from starting the program until its main window
// has been painted the first time, five runs, beside the goal. Each run starts this
// program anew as a child that runs the tool's own start-up (RunApplication) and reports
// the moment its window's first paint is done; the clock is the system's monotonic one,
// the same in both processes. The platform is QT_QPA_PLATFORM as set (offscreen when
// unset); under a virtual X display, run it with xvfb-run and QT_QPA_PLATFORM=xcb.
//
//   cmake --preset release && cmake --build --preset release --target startup_bench
//   ./build/release/bench/startup_bench
//   QT_QPA_PLATFORM=xcb xvfb-run -a ./build/release/bench/startup_bench

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kChildVariable = "VELMORA_STARTUP_BENCH_CHILD";

// In the child: the first paint of a window ends the program once it has been handled.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (!done_ && e->type() == QEvent::Paint && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) {
      done_ = true;
      // Queued: runs once this paint, its children's and the flush to the screen are done.
      QTimer::singleShot(0, [] {
        std::printf("%lld\n", static_cast<long long>(Clock::now().time_since_epoch().count()));
        std::fflush(stdout);
        std::_Exit(0);
      });
    }
    return false;
  }

 private:
  bool done_ = false;
};

void InstallFirstPaintProbe() {
  if (qEnvironmentVariableIsSet(kChildVariable)) QCoreApplication::instance()->installEventFilter(new FirstPaint);
}
Q_COREAPP_STARTUP_FUNCTION(InstallFirstPaintProbe)

// Starts this program as a child and returns the seconds until its window was painted.
double OneStart(const char* self) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* argv[] = {const_cast<char*>(self), nullptr};
  const auto start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return -1;
  }
  std::string text;
  char buf[128];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  const long long painted = std::atoll(text.c_str());
  if (painted <= 0) return -1;
  return std::chrono::duration<double>(Clock::duration(painted) - start.time_since_epoch()).count();
}

std::string self_path;

void BM_StartUpToPaintedWindow(benchmark::State& state) {
  std::vector<double> runs;
  for (auto _ : state) {
    const double s = OneStart(self_path.c_str());
    if (s < 0) {
      state.SkipWithError("the child did not report a painted window");
      return;
    }
    runs.push_back(s);
    state.SetIterationTime(s);
    std::printf("start-up to a painted window (%s): %.3f s\n", qgetenv("QT_QPA_PLATFORM").constData(), s);
    std::fflush(stdout);
  }
  velmora::bench::PrintSpread("start-up to a painted window", runs, 3, "s", "(goal <= 0.15 s)");
}
BENCHMARK(BM_StartUpToPaintedWindow)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet(kChildVariable)) return velmora::RunApplication(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv(kChildVariable, "1");
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  self_path = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string(argv[0]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
