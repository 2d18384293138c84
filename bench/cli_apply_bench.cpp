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
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "protocol/command_frame.h"
#include "support/frames.h"
#include "support/sim_process.h"

namespace {

constexpr qint64 kImageSize = 256 * 1024;

struct Run {
  int status = -1;
  qint64 ms = 0;
  QString err;
};

Run RunCli(const QStringList& args, std::vector<std::unique_ptr<velmora::test::SimProcess>>* sims = nullptr) {
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
      for (auto& s : *sims) s->ForgetLines();
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
  velmora::test::RawSerial line;
  if (!line.Open(path)) return -1;
  const auto frame = *velmora::BuildCommandFrame(velmora::cmd::kReadVersion, {});
  std::vector<double> times;
  for (int i = 0; i < 20; ++i) {
    QElapsedTimer t;
    t.start();
    if (!line.Write(frame)) break;
    // F5 00 code N, then N payload bytes, the sum and 0D.
    std::vector<uint8_t> got = line.Read(4, 2000);
    if (got.size() == 4) {
      const std::vector<uint8_t> rest = line.Read(std::size_t{got[3]} + 2, 2000);
      got.insert(got.end(), rest.begin(), rest.end());
    }
    times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    QThread::msleep(20);
  }
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
  // Every run records its devices, as it would on a station, but in a register of the
  // benchmark's own, not the user's.
  QTemporaryDir register_dir;
  qputenv("VELMORA_REGISTER", QStringLiteral("sqlite:%1/register.sqlite").arg(register_dir.path()).toUtf8());
  const QStringList args = app.arguments();
  const int baud = IntArg(args, QStringLiteral("--baud"), 115200);
  const int devices = IntArg(args, QStringLiteral("--devices"), 8);
  const int runs = IntArg(args, QStringLiteral("--runs"), 30);

  QTemporaryDir dir;
  const QString image = dir.filePath(QStringLiteral("fw.bin"));
  if (!velmora::test::WriteBytes(image, velmora::test::TestImage(static_cast<std::size_t>(kImageSize)))) return 1;
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

  QStringList sim_args{QStringLiteral("--no-udp")};
  if (baud > 0) sim_args << QStringLiteral("--baud") << QString::number(baud);
  auto apply = [&](int n) -> Run {
    std::vector<std::unique_ptr<velmora::test::SimProcess>> sims;
    QStringList cli_args;
    for (int i = 0; i < n; ++i) {
      auto s = std::make_unique<velmora::test::SimProcess>();
      if (!s->Start(sim_args)) {
        std::fprintf(stderr, "%s\n", qPrintable(s->StartError()));
        return {};
      }
      cli_args << QStringLiteral("--serial") << s->SerialPath();
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

  velmora::test::SimProcess sim;
  if (!sim.Start({QStringLiteral("--no-udp")})) return 1;
  const double device_ms = DeviceAnswerMs(sim.SerialPath());
  std::vector<double> totals;
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    const Run r = RunCli({QStringLiteral("--serial"), sim.SerialPath(), QStringLiteral("version")});
    if (r.status != 0) ++failures;
    totals.push_back(static_cast<double>(r.ms));
    sim.ForgetLines();
  }
  std::sort(totals.begin(), totals.end());
  const double median = totals[totals.size() / 2];
  std::printf("velmora-cli version, %d runs (%d failed)\n", runs, failures);
  std::printf("  whole run, median:       %7.1f ms (min %.1f, max %.1f)\n", median, totals.front(), totals.back());
  std::printf("  device's answer, median: %7.1f ms\n", device_ms);
  std::printf("  start-up beyond it:      %7.1f ms  (goal: well under 100)\n", median - device_ms);
  return 0;
}
