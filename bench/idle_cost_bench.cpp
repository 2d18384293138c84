// What the running main window costs with no traffic, over 10 s, five runs each: wake-ups
// of the user-interface thread's event loop, times any of the program's threads went to
// sleep and was woken (the serial reader's included), and CPU time, all three with the goal
// 0. Three states with the pump driven on demand (the tool's way): no link open; the serial
// link open on a pseudo-terminal whose far end stays open and silent once it has answered a
// version read (so the watch on awaited answers has run and stopped); the UDP link open
// towards loopback, with nothing sent either way. Each link is opened from its page as the
// engineer does: the port chosen from the list or the address filled in, then the page's
// open button. Once more with no link and a 1 ms timer that never stops, for comparison.
//
// A run that handles anything names it (receiver, its parent, event type). Qt's pixmap
// cache looks at itself once, about 30 s after the window first paints, and stops when it
// has nothing to let go: a run that spans that moment shows one wake-up of QPMCache.
//
//   cmake --preset release && cmake --build --preset release --target idle_cost_bench
//   ./build/release/bench/idle_cost_bench

#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "bench_support.h"
#include "config/ui/serial_page.h"
#include "protocol/pump_driver.h"
#include "support/fake_modal_ui.h"
#include "support/pty_pair.h"
#include "support/udp_test_port.h"
#include "resources/config_layouts.h"
#include "app/app_services.h"
#include "widgets/controls.h"
#include "widgets/dialog_builder.h"

namespace velmora {
namespace {

enum class Scene { NoLink, SerialOpen, UdpOpen, Continuous1ms };

const char* Name(Scene s) {
  switch (s) {
    case Scene::NoLink: return "idle, no link, pump on demand";
    case Scene::SerialOpen: return "idle, serial link open, a command answered, pump on demand";
    case Scene::UdpOpen: return "idle, UDP link open, pump on demand";
    case Scene::Continuous1ms: return "idle, no link, continuous 1 ms timer";
  }
  return "";
}

struct Usage {
  double cpu_s;
  long sleeps;  // voluntary context switches of all the program's threads
};

Usage Now() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return {static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
              static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
          u.ru_nvcsw};
}

void Settle(int ms) {
  QEventLoop settle;
  QTimer::singleShot(ms, &settle, &QEventLoop::quit);
  settle.exec();
}

// The serial page lists the pseudo-terminal as an adapter in a watched folder; it is picked
// from the port list and opened with the page's button.
bool OpenSerial(MainWindow& window, const test::PtyPair& pty, const QTemporaryDir& dir) {
  const QString link = QDir::cleanPath(dir.filePath(QStringLiteral("ttyIDLE0")));
  if (!QFile::link(pty.SlavePath(), link)) return false;
  window.ShowPage(MainWindow::kSerialPage);
  auto* page = qobject_cast<SerialPage*>(window.Page(MainWindow::kSerialPage));
  page->SetPortFolders({dir.path()});
  auto* ports = qobject_cast<QComboBox*>(FindControl(page, res::kIdcComPort));
  const int i = ports->findText(link);
  if (i < 0) return false;
  ports->setCurrentIndex(i);
  qobject_cast<QAbstractButton*>(FindControl(page, res::kIdcOpenClose))->click();
  return window.Services().serial.IsOpen();
}

// The serial page's version read, answered as the device would: the pump and the watch on
// awaited answers both run, and both must be still afterwards.
bool AnswerVersionRead(MainWindow& window, test::PtyPair& pty) {
  QWidget* page = window.Page(MainWindow::kSerialPage);
  qobject_cast<QAbstractButton*>(FindControl(page, res::kIdcReadVersion))->click();
  if (pty.ReadMaster(6, std::chrono::seconds(1)).size() != 6) return false;
  const auto reply = BuildReplyFrame(cmd::kReadVersion, std::vector<uint8_t>{'V', '1'});
  if (!pty.WriteMaster(*reply)) return false;
  Settle(300);
  return window.Answers().Awaited() == 0 && !window.Answers().TimerRunning();
}

// The network page's device address is loopback; nothing is sent either way.
bool OpenUdp(MainWindow& window) {
  window.ShowPage(MainWindow::kNetworkPage);
  QWidget* page = window.Page(MainWindow::kNetworkPage);
  qobject_cast<IpAddressEdit*>(FindControl(page, res::kIdcBroadcastAddress))->setText(QStringLiteral("127.0.0.1"));
  qobject_cast<QAbstractButton*>(FindControl(page, res::kIdcOpenClose))->click();
  return window.Services().udp.IsOpen();
}

// Names what the user-interface thread handled while it should have slept: each event's
// receiver (with its parent, as a timer or notifier says little alone) and type, counted.
// The timer that ends the run is left out.
class EventTally : public QObject {
 public:
  explicit EventTally(const QObject* end) : end_(end) {}
  bool eventFilter(QObject* receiver, QEvent* event) override {
    if (receiver == end_) return false;
    QString who = QString::fromLatin1(receiver->metaObject()->className());
    if (const QObject* parent = receiver->parent()) who += QStringLiteral(" in ") + parent->metaObject()->className();
    ++seen_[who + QStringLiteral(": event ") + QString::number(event->type())];
    return false;
  }
  bool Empty() const { return seen_.isEmpty(); }
  QString Text() const {
    QStringList parts;
    for (auto it = seen_.begin(); it != seen_.end(); ++it) parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return parts.join(QStringLiteral("; "));
  }

 private:
  const QObject* end_;
  QMap<QString, int> seen_;
};

void RunIdle(benchmark::State& state, Scene scene) {
  const int seconds = static_cast<int>(state.range(0));
  std::vector<double> wakeups_per_s, sleeps_per_s, cpu_share;
  for (auto _ : state) {
    // Declared first so the port is closed before its far end goes.
    // The master side stays open and silent: the cable is plugged in, the device quiet.
    test::PtyPair pty;
    QTemporaryDir dir;
    ReceiveState rx;
    test::FakeModalUi modal;
    SerialPort serial(rx);
    // Free loopback ports stand in for 20 and 21, which need rights.
    UdpEndpoint udp(rx, modal, test::FreeUdpPort(), test::FreeUdpPort());
    AppServices services{rx, modal, serial, udp};
    MainWindow window(services);
    window.show();
    std::unique_ptr<PumpDriver> always;
    ReceiveState rx2;
    if (scene == Scene::Continuous1ms) {
      always = std::make_unique<PumpDriver>(window.Pump(), rx2, PumpDriver::Mode::Continuous);
    }
    Settle(300);
    bool open = true;
    if (scene == Scene::SerialOpen) {
      open = pty.Ok() && dir.isValid() && OpenSerial(window, pty, dir) && AnswerVersionRead(window, pty);
    }
    if (scene == Scene::UdpOpen) open = OpenUdp(window);
    if (!open) {
      state.SkipWithError("the link did not open");
      break;
    }
    // Let start-up and opening work (first paints, deferred layout, the Log line) finish
    // before counting.
    Settle(300);
    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(seconds * 1000);
    EventTally tally(&end);
    qApp->installEventFilter(&tally);
    long wakeups = 0;
    const auto counter = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                          [&wakeups] { ++wakeups; });
    const std::uint64_t pump0 = window.Driver().WakeupCount();
    const Usage u0 = Now();
    QElapsedTimer wall;
    wall.start();
    loop.exec();
    const Usage u1 = Now();
    const double wall_s = static_cast<double>(wall.elapsed()) / 1000.0;
    QObject::disconnect(counter);
    qApp->removeEventFilter(&tally);
    const auto pump = window.Driver().WakeupCount() - pump0;
    const double cpu = u1.cpu_s - u0.cpu_s;
    // Entering the loop counts once, and the timer that ends it wakes it once; the main
    // thread sleeps once for that timer.
    wakeups -= 2;
    const long sleeps = u1.sleeps - u0.sleeps - 1;
    if (scene == Scene::SerialOpen) serial.Close();
    if (scene == Scene::UdpOpen) udp.CloseEndpoint();
    wakeups_per_s.push_back(static_cast<double>(wakeups) / wall_s);
    sleeps_per_s.push_back(static_cast<double>(sleeps) / wall_s);
    cpu_share.push_back(100.0 * cpu / wall_s);
    state.counters["wakeups"] = static_cast<double>(wakeups);
    std::printf("%s: %ld event-loop wake-ups besides entering the loop and leaving it, %llu of the pump's timer, "
                "%ld thread wake-ups in the whole program, %.3f s CPU in %.1f s = %.3f %% of one core\n",
                Name(scene), wakeups, static_cast<unsigned long long>(pump), sleeps, cpu, wall_s,
                100.0 * cpu / wall_s);
    if (!tally.Empty()) std::printf("  handled meanwhile (event types as QEvent::Type): %s\n", qPrintable(tally.Text()));
    std::fflush(stdout);
  }
  if (wakeups_per_s.empty()) return;
  const char* goal = scene == Scene::Continuous1ms ? "" : "(goal: 0)";
  const std::string what = Name(scene);
  bench::PrintSpread((what + ", event-loop wake-ups per second").c_str(), wakeups_per_s, 2, "", goal);
  bench::PrintSpread((what + ", thread wake-ups per second, all threads").c_str(), sleeps_per_s, 2, "", goal);
  bench::PrintSpread((what + ", CPU").c_str(), cpu_share, 3, "% of one core", goal);
}

void BM_IdleNoLink(benchmark::State& state) { RunIdle(state, Scene::NoLink); }
void BM_IdleSerialOpen(benchmark::State& state) { RunIdle(state, Scene::SerialOpen); }
void BM_IdleUdpOpen(benchmark::State& state) { RunIdle(state, Scene::UdpOpen); }
void BM_IdleContinuous1ms(benchmark::State& state) { RunIdle(state, Scene::Continuous1ms); }
BENCHMARK(BM_IdleNoLink)->Arg(10)->Iterations(5)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleSerialOpen)->Arg(10)->Iterations(5)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleUdpOpen)->Arg(10)->Iterations(5)->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleContinuous1ms)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
