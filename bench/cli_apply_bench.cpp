// velmora-cli on many devices at once, and its start-up.
//
// 1. `apply` of one profile (configuration, MQTT credentials and a 256 KiB firmware
//    image) to one velmora-sim on a pseudo-terminal, then to eight at once, each on its
//    own pseudo-terminal. The simulators model a 115200-baud line (--baud), so each
//    device is held to what its own cable carries and the figure says whether the
//    devices really run side by side. Printed: both times and their ratio (goal: 1.3 at
//    most).
// 2. `velmora-cli version` against velmora-sim, started again and again: the whole run
//    less the device's own answer time (the same frame, sent and answered on the same
//    pseudo-terminal without the program), i.e. what starting the program costs.
//
//   cmake --preset release && cmake --build --preset release --target cli_apply_bench
//   ./build/release/bench/cli_apply_bench [--baud N] [--devices N] [--runs N]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "protocol/command_frame.h"

namespace {

constexpr qint64 kImageSize = 256 * 1024;

// One velmora-sim on a pseudo-terminal of its own.
class Sim {
 public:
  bool Start(const QStringList& extra) {
    process_.setProgram(QStringLiteral(VELMORA_SIM_PATH));
    process_.setArguments(QStringList{QStringLiteral("--no-udp")} + extra);
    process_.start();
    if (!process_.waitForStarted(10000)) return false;
    QByteArray seen;
    static const QRegularExpression serial_re(QStringLiteral("^serial: (\\S+)"), QRegularExpression::MultilineOption);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
      process_.waitForReadyRead(100);
      seen += process_.readAllStandardOutput();
      if (seen.contains("ready\n")) {
        const auto m = serial_re.match(QString::fromUtf8(seen));
        path_ = m.captured(1);
        return !path_.isEmpty();
      }
    }
    return false;
  }
  ~Sim() {
    process_.terminate();
    process_.waitForFinished(5000);
  }
  QString Path() const { return path_; }
  void Drain() { process_.readAllStandardOutput(); }

 private:
  QProcess process_;
  QString path_;
};

struct Run {
  int status = -1;
  qint64 ms = 0;
  QString err;
};

Run RunCli(const QStringList& args, std::vector<std::unique_ptr<Sim>>* sims = nullptr) {
  QProcess cli;
  cli.setProgram(QStringLiteral(VELMORA_CLI_PATH));
  cli.setArguments(args);
  QElapsedTimer t;
  t.start();
  cli.start();
  // The simulators' logs are read along the way, so none of them stalls on a full pipe.
  while (!cli.waitForFinished(200)) {
    if (cli.state() == QProcess::NotRunning) break;
    if (sims) {
      for (auto& s : *sims) s->Drain();
    }
  }
  Run r;
  r.ms = t.elapsed();
  r.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
  r.err = QString::fromUtf8(cli.readAllStandardError());
  return r;
}

// The device's own answer to the version query: the frame written to its terminal, the
// whole reply read back, no program started.
double DeviceAnswerMs(const QString& path) {
  const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  const auto frame = *velmora::BuildCommandFrame(velmora::cmd::kReadVersion, {});
  std::vector<double> times;
  for (int i = 0; i < 20; ++i) {
    QElapsedTimer t;
    t.start();
    if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    std::vector<uint8_t> got;
    while (t.elapsed() < 2000) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      uint8_t buf[512];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
      if (got.size() >= 5 && got.size() >= static_cast<std::size_t>(got[3]) + 6) break;
    }
    times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    QThread::msleep(20);
  }
  ::close(fd);
  std::sort(times.begin(), times.end());
  return times.empty() ? -1 : times[times.size() / 2];
}

int IntArg(const QStringList& args, const QString& name, int fallback) {
  const auto i = args.indexOf(name);
  return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const int baud = IntArg(args, QStringLiteral("--baud"), 115200);
  const int devices = IntArg(args, QStringLiteral("--devices"), 8);
  const int runs = IntArg(args, QStringLiteral("--runs"), 30);

  QTemporaryDir dir;
  const QString image = dir.filePath(QStringLiteral("fw.bin"));
  {
    QFile f(image);
    if (!f.open(QIODevice::WriteOnly)) return 1;
    QByteArray data(kImageSize, '\0');
    for (qint64 i = 0; i < kImageSize; ++i) data[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    f.write(data);
  }
  // The template with a firmware file beside it.
  QProcess tmpl;
  tmpl.start(QStringLiteral(VELMORA_CLI_PATH), {QStringLiteral("template")});
  tmpl.waitForFinished(10000);
  QByteArray profile = tmpl.readAllStandardOutput();
  const auto cut = profile.lastIndexOf('}');
  profile = profile.left(cut) + ",\n    \"firmware\": \"fw.bin\"\n}\n";
  const QString profile_path = dir.filePath(QStringLiteral("site.json"));
  {
    QFile f(profile_path);
    if (!f.open(QIODevice::WriteOnly)) return 1;
    f.write(profile);
  }

  const QStringList sim_args =
      baud > 0 ? QStringList{QStringLiteral("--baud"), QString::number(baud)} : QStringList{};
  auto apply = [&](int n) -> Run {
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList cli_args;
    for (int i = 0; i < n; ++i) {
      auto s = std::make_unique<Sim>();
      if (!s->Start(sim_args)) {
        std::fprintf(stderr, "velmora-sim did not start\n");
        return {};
      }
      cli_args << QStringLiteral("--serial") << s->Path();
      sims.push_back(std::move(s));
    }
    cli_args << QStringLiteral("apply") << profile_path << QStringLiteral("--verify");
    return RunCli(cli_args, &sims);
  };

  std::printf("apply (configuration + MQTT + %lld KiB firmware, --verify), %s line\n",
              static_cast<long long>(kImageSize / 1024),
              baud > 0 ? qPrintable(QStringLiteral("%1-baud").arg(baud)) : "unmodelled");
  const Run one = apply(1);
  std::printf("  1 device:  %8.2f s  (status %d)\n", one.ms / 1000.0, one.status);
  const Run many = apply(devices);
  std::printf("  %d devices: %8.2f s  (status %d)\n", devices, many.ms / 1000.0, many.status);
  if (one.status != 0 || many.status != 0) std::printf("%s%s", qPrintable(one.err), qPrintable(many.err));
  std::printf("  ratio:     %8.3f  (goal: at most 1.3)\n\n", one.ms > 0 ? static_cast<double>(many.ms) / one.ms : 0.0);

  Sim sim;
  if (!sim.Start({})) return 1;
  const double device_ms = DeviceAnswerMs(sim.Path());
  std::vector<double> totals;
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    const Run r = RunCli({QStringLiteral("--serial"), sim.Path(), QStringLiteral("version")});
    if (r.status != 0) ++failures;
    totals.push_back(static_cast<double>(r.ms));
    sim.Drain();
  }
  std::sort(totals.begin(), totals.end());
  const double median = totals[totals.size() / 2];
  std::printf("velmora-cli version, %d runs (%d failed)\n", runs, failures);
  std::printf("  whole run, median:       %7.1f ms (min %.1f, max %.1f)\n", median, totals.front(), totals.back());
  std::printf("  device's answer, median: %7.1f ms\n", device_ms);
  std::printf("  start-up beyond it:      %7.1f ms  (goal: well under 100)\n", median - device_ms);
  return 0;
}
