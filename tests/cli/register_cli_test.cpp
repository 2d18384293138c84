// velmora-cli and the device register, on both engines: every device result is a row
// with the facts the device gave (never its MQTT secret), `records` reads them back, a
// register that cannot be written costs one line and status 4 but no device work, and
// two runs and the window writing at once lose no row.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <chrono>

#include "profile/profile.h"
#include "profile/profile_writer.h"
#include "registry/device_register.h"
#include "registry/register_writer.h"
#include "support/cli_process.h"
#include "support/sim_device.h"
#include "support/sim_process.h"
#include "support/test_register.h"
#include "support/wait.h"

namespace velmora {
namespace {

using test::CliProcess;
using test::CliRun;
using test::SimProcess;
using test::TestRegister;
using namespace std::chrono_literals;

constexpr const char* kSecret = "9f3c51d07ab24e6c8d1e52f0a7b3c964";

// A simulated device on a pseudo-terminal; its LINK options.
QStringList StartDevice(SimProcess& sim, const QString& folder, const QStringList& extra = {}) {
  const QString state = folder + QStringLiteral("/%1.state").arg(reinterpret_cast<quintptr>(&sim));
  EXPECT_TRUE(sim.Start(QStringList{"--no-udp", "--state", state} + extra)) << sim.StartError().toStdString();
  return {"--serial", sim.SerialPath()};
}

std::vector<QJsonObject> JsonLines(const QString& out) {
  std::vector<QJsonObject> lines;
  for (const QString& l : out.split('\n', Qt::SkipEmptyParts)) lines.push_back(QJsonDocument::fromJson(l.toUtf8()).object());
  return lines;
}

class RegisterCli : public ::testing::TestWithParam<std::string> {};

TEST_P(RegisterCli, EveryDeviceResultIsARowWithItsFactsAndRecordsReadsThemBack) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  SimProcess sim;
  const QStringList link = StartDevice(sim, reg.Folder(), {"--version", "DTU V3.4", "--csq", "17"});
  Profile p = TemplateProfile();
  p.config->mac = "02:1A:2B:3C:4D:5E";
  p.mqtt->product_key = "pk-line7";
  p.mqtt->device_name = "unit-0042";
  p.mqtt->device_secret = kSecret;
  const QString profile = reg.Folder() + "/unit.json";
  QString error;
  ASSERT_TRUE(WriteProfileFile(profile, p, &error)) << error.toStdString();
  const QStringList r{"--register", reg.Url()};

  for (const QStringList& args : {link + QStringList{"apply", profile}, link + QStringList{"version"},
                                  link + QStringList{"csq"}, QStringList{"--serial", "/nonexistent/tty9", "version"}}) {
    const CliRun run = CliProcess::Run(args + r);
    EXPECT_EQ(run.status, args.contains("/nonexistent/tty9") ? 3 : 0) << run;
    EXPECT_FALSE(run.err.contains("register")) << run;
  }

  const CliRun all = CliProcess::Run({"records", "--json", "--register", reg.Url()});
  ASSERT_EQ(all.status, 0) << all;
  EXPECT_FALSE(all.out.contains(kSecret));
  const auto rows = JsonLines(all.out);
  ASSERT_EQ(rows.size(), 4u) << all;
  // Newest first.
  EXPECT_EQ(rows[0]["address"].toString(), "/nonexistent/tty9");
  EXPECT_EQ(rows[0]["result"].toString(), "failed");
  EXPECT_TRUE(rows[0]["error"].toString().contains("/nonexistent/tty9"));
  EXPECT_EQ(rows[1]["operation"].toString(), "csq");
  EXPECT_EQ(rows[1]["csq"].toInt(), 17);
  EXPECT_EQ(rows[2]["firmware_version"].toString(), "DTU V3.4");
  EXPECT_TRUE(rows[2]["csq"].isNull());
  const QJsonObject& apply = rows[3];
  EXPECT_EQ(apply["operation"].toString(), "apply");
  EXPECT_EQ(apply["result"].toString(), "ok");
  EXPECT_EQ(apply["link"].toString(), sim.SerialPath());
  EXPECT_EQ(apply["address"].toString(), sim.SerialPath());
  EXPECT_EQ(apply["mac"].toString(), "02:1A:2B:3C:4D:5E");
  EXPECT_EQ(apply["local_ip"].toString(), "192.168.1.100");
  EXPECT_EQ(apply["product_key"].toString(), "pk-line7");
  EXPECT_EQ(apply["device_name"].toString(), "unit-0042");
  EXPECT_TRUE(apply["error"].isNull());

  const CliRun one = CliProcess::Run({"records", "--address", sim.SerialPath(), "--since", "1h", "--register", reg.Url()});
  ASSERT_EQ(one.status, 0) << one;
  EXPECT_EQ(one.out.count('\n'), 3) << one;
  EXPECT_TRUE(one.out.contains("version DTU V3.4")) << one;
  EXPECT_EQ(CliProcess::Run({"records", "--since", "2999-01-01", "--register", reg.Url()}).out, QString());

  if (reg.IsSqlite()) {  // nor in the file itself, its journal included
    QByteArray bytes;
    for (const QString& suffix : {"", "-wal"}) {
      QFile f(reg.SqlitePath() + suffix);
      if (f.open(QIODevice::ReadOnly)) bytes += f.readAll();
    }
    EXPECT_FALSE(bytes.isEmpty());
    EXPECT_FALSE(bytes.contains(kSecret));
  }
}

// A search and a report run record the same facts the screen and the report show: the
// devices found, and for a changed unit the version read before anything was changed.
TEST_P(RegisterCli, ASearchAndAReportedRunRecordWhatTheyFound) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  test::SimDevice device;
  device.Start(reg.Folder(), "udp", "127.0.0.1", {"--version", "DTU V3.5", "--csq", "21", "--mac", "02:00:5E:00:02:0A"});
  const QStringList r{"--register", reg.Url()};
  const CliRun found = CliProcess::Run(device.link + test::LocalPort() + QStringList{"discover", "--wait", "300"} + r);
  ASSERT_EQ(found.status, 0) << found;
  const QString profile = reg.Folder() + "/unit.json";
  QString error;
  ASSERT_TRUE(WriteProfileFile(profile, TemplateProfile(), &error)) << error.toStdString();
  const CliRun applied = CliProcess::Run(device.link + test::LocalPort() +
                                         QStringList{"apply", profile, "--report", reg.Folder() + "/r.csv"} + r);
  ASSERT_EQ(applied.status, 0) << applied;

  const auto rows = JsonLines(CliProcess::Run({"records", "--json", "--register", reg.Url()}).out);
  ASSERT_EQ(rows.size(), 2u);
  const QString address = "127.0.0.1:" + QString::number(device.sim.UdpPort());
  EXPECT_EQ(rows[1]["operation"].toString(), "discover");
  EXPECT_EQ(rows[1]["address"].toString(), address);
  EXPECT_EQ(rows[1]["firmware_version"].toString(), "DTU V3.5");
  EXPECT_EQ(rows[1]["mac"].toString(), "02:00:5E:00:02:0A");
  EXPECT_EQ(rows[1]["result"].toString(), "ok");
  EXPECT_EQ(rows[0]["operation"].toString(), "apply");
  EXPECT_EQ(rows[0]["address"].toString(), address);
  EXPECT_EQ(rows[0]["firmware_version"].toString(), "DTU V3.5");
  EXPECT_EQ(rows[0]["csq"].toInt(), 21);
}

// SQLite: a read-only file. PostgreSQL: the server stopped once the first device's row
// is in, while the second device still works.
TEST_P(RegisterCli, ARegisterThatCannotBeWrittenCostsOneLineAndStatusFourNotTheDeviceWork) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  QString error;
  auto check = DeviceRegister::Open(reg.Url(), &error);
  ASSERT_TRUE(check) << error.toStdString();
  if (reg.IsSqlite()) ASSERT_TRUE(QFile::setPermissions(reg.SqlitePath(), QFile::ReadOwner));
  SimProcess fast, slow;
  const QStringList links = StartDevice(fast, reg.Folder()) + StartDevice(slow, reg.Folder(), {"--delay-ms", "4000"});

  CliProcess cli;
  ASSERT_TRUE(cli.Start(links + QStringList{"version", "--timeout", "10000", "--register", reg.Url()}));
  int lost = 2;
  if (!reg.IsSqlite()) {
    ASSERT_TRUE(test::WaitUntil([&] { return check->Count(&error).value_or(0) == 1; }, 10s)) << error.toStdString();
    check.reset();
    ASSERT_TRUE(reg.Server()->Stop());
    lost = 1;
  }
  const CliRun run = cli.Finish();
  EXPECT_EQ(run.status, 4) << run;
  // The work's report is whole: both devices' lines and the table.
  EXPECT_TRUE(run.out.contains(fast.SerialPath() + ": ")) << run;
  EXPECT_TRUE(run.out.contains(slow.SerialPath() + ": ")) << run;
  EXPECT_TRUE(run.out.contains("2 of 2 devices succeeded")) << run;
  const QStringList err = run.err.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(err.size(), 1) << run;
  EXPECT_TRUE(err[0].startsWith(QStringLiteral("velmora-cli: register: %1 of 2 rows not written: ").arg(lost))) << run;

  // A device that failed keeps its own status; the register line comes all the same.
  const CliRun failed = CliProcess::Run({"--json", "--serial", "/nonexistent/tty9", "version", "--register", reg.Url()});
  EXPECT_EQ(failed.status, 3) << failed;
  const auto lines = JsonLines(failed.out);
  ASSERT_EQ(lines.size(), 2u) << failed;
  EXPECT_EQ(lines[1]["event"].toString(), "register");
  EXPECT_EQ(lines[1]["failed"].toInt(), 1);
}

TEST_P(RegisterCli, TwoRunsAndTheWindowWritingAThousandRowsEachAtOnceLoseNone) {
  TestRegister reg;
  VELMORA_START_REGISTER(reg, GetParam());
  constexpr int kRows = 1000;
  // A thousand devices each whose link fails at once: a thousand results, a thousand rows.
  const auto devices = [](int run) {
    QStringList args;
    for (int i = 0; i < kRows; ++i) args << "--serial" << QStringLiteral("/nonexistent/run%1-%2").arg(run).arg(i);
    return args;
  };
  CliProcess one, two;
  ASSERT_TRUE(one.Start(devices(1) + QStringList{"version", "--register", reg.Url()}));
  ASSERT_TRUE(two.Start(devices(2) + QStringList{"csq", "--register", reg.Url()}));
  {
    // The window writes as it records its contacts: one row at a time.
    std::atomic<int> failed{0};
    RegisterWriter window(reg.Url(), [&](int rows, const QString&) { failed += rows; });
    for (int i = 0; i < kRows; ++i) {
      RegisterRow row;
      row.link = "udp";
      row.address = QStringLiteral("window-%1").arg(i);
      row.operation = "version";
      window.Add(row);
      window.Flush();
    }
    EXPECT_EQ(failed, 0);
  }
  for (CliProcess* p : {&one, &two}) {
    const CliRun run = p->Finish(120000);
    EXPECT_EQ(run.status, 3) << run.err.right(400).toStdString();
    EXPECT_FALSE(run.err.contains("register:")) << run.err.right(400).toStdString();
  }
  QString error;
  auto r = DeviceRegister::Open(reg.Url(), &error);
  ASSERT_TRUE(r) << error.toStdString();
  const auto rows = r->Rows({}, -1, &error);
  ASSERT_TRUE(rows) << error.toStdString();
  QSet<QString> addresses;
  for (const RegisterRow& row : *rows) addresses.insert(row.address);
  EXPECT_EQ(rows->size(), 3u * kRows);
  for (const QString& a : {QString("window-999"), QString("/nonexistent/run1-999"), QString("/nonexistent/run2-0")}) {
    EXPECT_TRUE(addresses.contains(a)) << a.toStdString();
  }
  EXPECT_EQ(addresses.size(), 3 * kRows);
}

VELMORA_ON_BOTH_ENGINES(RegisterCli);

TEST(RegisterCliOptions, RecordsNeedsARegisterAndTheFiltersGoWithRecordsOnly) {
  EXPECT_EQ(CliProcess::Run({"records", "--no-register"}).status, 2);
  EXPECT_EQ(CliProcess::Run({"records", "--register", "mysql://h/db"}).status, 2);
  EXPECT_EQ(CliProcess::Run({"records", "--since", "yesterday"}).status, 2);
  EXPECT_EQ(CliProcess::Run({"--serial", "/dev/null", "version", "--address", "x"}).status, 2);
  EXPECT_EQ(CliProcess::Run({"--serial", "/dev/null", "version", "--register", "sqlite:/tmp/x", "--no-register"}).status, 2);
  // Nothing to read yet: the default register, the window's file, is created empty.
  QFile::remove(DefaultRegisterPath());  // the run's own data folder: earlier tests wrote there
  const CliRun empty = CliProcess::Run({"records"});
  EXPECT_EQ(empty.status, 0) << empty;
  EXPECT_TRUE(empty.out.isEmpty()) << empty;
  EXPECT_TRUE(QFile::exists(DefaultRegisterPath()));
}

}  // namespace
}  // namespace velmora
