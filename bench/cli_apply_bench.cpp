// velmora-cli on many devices at once, and its start-up.
//
// 1. `apply --verify` of one profile (configuration, MQTT credentials and a 256 KiB
//    firmware image) to one velmora-sim on a pseudo-terminal, then to a fleet at once: 32
//    on pseudo-terminals and 32 over UDP, each on its own loopback address, each unit
//    given its own identity by a units sheet. The serial simulators model a 115200-baud
//    line (--baud), so each is held to what its own cable carries; the UDP ones answer at
//    the speed of the network. Printed: both times, their ratio (goal: at most 1.10) and
//    the program's memory per device.
// 2. `velmora-cli version` against velmora-sim, started again and again: the whole run
//    less the device's own answer time (the same frame, sent and answered on the same
//    pseudo-terminal without the program), i.e. what starting the program costs.
//
//   cmake --preset release && cmake --build --preset release --target cli_apply_bench
//   ./build/release/bench/cli_apply_bench [--baud N] [--serial-devices N] [--udp-devices N] [--runs N]

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
#include "support/udp_test_port.h"

namespace {

constexpr qint64 kImageSize = 256 * 1024;

struct Run {
  int status = -1;
  qint64 ms = 0;
  QString err;
  qint64 peak_rss_kib = 0;  // the program's own high-water mark, read while it runs
};

qint64 PeakRssKib(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  }
  return 0;
}

Run RunCli(const QStringList& args, std::vector<std::unique_ptr<velmora::test::SimProcess>>* sims = nullptr) {
  QProcess cli;
  cli.setProgram(QStringLiteral(VELMORA_CLI_PATH));
  cli.setArguments(args);
  QElapsedTimer t;
  t.start();
  cli.start();
  Run r;
  // The simulators' logs are read along the way, so none of them stalls on a full pipe.
  while (!cli.waitForFinished(200)) {
    if (cli.state() == QProcess::NotRunning) break;
    r.peak_rss_kib = std::max(r.peak_rss_kib, PeakRssKib(cli.processId()));
    if (sims) {
      for (auto& s : *sims) s->ForgetLines();
    }
  }
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
  const int serial_devices = IntArg(args, QStringLiteral("--serial-devices"), 32);
  const int udp_devices = IntArg(args, QStringLiteral("--udp-devices"), 32);
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

  // Each unit its own address and MAC, as a production line would give them.
  auto apply = [&](int serial_n, int udp_n) -> Run {
    std::vector<std::unique_ptr<velmora::test::SimProcess>> sims;
    QString sheet = QStringLiteral("link,config.local_ip,config.mac,mqtt.device_name,mqtt.device_secret\n");
    for (int i = 0; i < serial_n + udp_n; ++i) {
      auto s = std::make_unique<velmora::test::SimProcess>();
      QStringList sim_args;
      const QString udp_address = QStringLiteral("127.0.1.%1").arg(10 + i - serial_n);
      if (i < serial_n) {
        sim_args << QStringLiteral("--no-udp");
        if (baud > 0) sim_args << QStringLiteral("--baud") << QString::number(baud);
      } else {
        sim_args << QStringLiteral("--no-serial") << QStringLiteral("--udp-address") << udp_address
                 << QStringLiteral("--udp-port") << QStringLiteral("0");
      }
      if (!s->Start(sim_args)) {
        std::fprintf(stderr, "%s\n", qPrintable(s->StartError()));
        return {};
      }
      const QString link = i < serial_n ? QStringLiteral("serial:%1").arg(s->SerialPath())
                                        : QStringLiteral("udp:%1:%2").arg(udp_address).arg(s->UdpPort());
      sheet += QStringLiteral("%1,10.1.%2.%3,auto,unit-%4,secret-%4\n").arg(link).arg(i / 200).arg(1 + i % 200).arg(i);
      sims.push_back(std::move(s));
    }
    const QString sheet_path = dir.filePath(QStringLiteral("units.csv"));
    QFile f(sheet_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    f.write(sheet.toUtf8());
    f.close();
    return RunCli({QStringLiteral("--units"), sheet_path, QStringLiteral("--local-port"),
                   QString::number(velmora::test::FreeUdpPort()), QStringLiteral("apply"), profile_path,
                   QStringLiteral("--verify")},
                  &sims);
  };

  std::printf("apply (configuration + MQTT + %lld KiB firmware, --verify), serial %s line, UDP on loopback\n",
              static_cast<long long>(kImageSize / 1024),
              baud > 0 ? qPrintable(QStringLiteral("%1-baud").arg(baud)) : "unmodelled");
  const Run one = apply(1, 0);
  std::printf("  1 device:    %8.2f s  (status %d)  peak %lld KiB\n", one.ms / 1000.0, one.status,
              static_cast<long long>(one.peak_rss_kib));
  const Run many = apply(serial_devices, udp_devices);
  const int n = serial_devices + udp_devices;
  std::printf("  %d devices:  %8.2f s  (status %d; %d serial, %d UDP)  peak %lld KiB\n", n, many.ms / 1000.0, many.status,
              serial_devices, udp_devices, static_cast<long long>(many.peak_rss_kib));
  if (one.status != 0 || many.status != 0) std::printf("%s%s", qPrintable(one.err), qPrintable(many.err));
  std::printf("  ratio:       %8.3f  (goal: at most 1.10)\n", one.ms > 0 ? static_cast<double>(many.ms) / one.ms : 0.0);
  std::printf("  memory:      %8.1f KiB per device beyond the first\n\n",
              n > 1 ? static_cast<double>(many.peak_rss_kib - one.peak_rss_kib) / (n - 1) : 0.0);

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
