// The command line on many units: each gets its own identity from a units sheet, one
// profile is not put on several devices alike by surprise, the report proves what was
// done unit by unit, and a run never claims more than happened, always ends, and says
// every outcome in JSON when asked.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <vector>

#include "config/config_record.h"
#include "discovery/device_search.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "support/cli_process.h"
#include "support/pty_pair.h"
#include "support/sim_device.h"

namespace velmora {
namespace {

using test::CliProcess;
using test::CliRun;
using test::SimDevice;

QString WriteText(const QString& path, const QString& text) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(text.toUtf8());
  return path;
}

QString Template(const QString& dir) {
  const CliRun t = CliProcess::Run({QStringLiteral("template")});
  EXPECT_EQ(t.status, 0) << t;
  return WriteText(dir + QStringLiteral("/site.json"), t.out);
}

ConfigForm Stored(const SimDevice& d) {
  const QByteArray r = d.StoredConfig();
  return DecodeConfig(std::span(reinterpret_cast<const uint8_t*>(r.constData()), static_cast<std::size_t>(r.size())), false);
}

QStringList CsvLines(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

TEST(CliUnits, EachRowGivesItsUnitItsOwnIdentityAndTheReportProvesIt) {
  QTemporaryDir dir;
  SimDevice a, b;
  a.Start(dir.path(), QStringLiteral("a"));
  b.Start(dir.path(), QStringLiteral("b"));
  const QString profile = Template(dir.path());
  const QString sheet = WriteText(dir.filePath(QStringLiteral("units.csv")),
                                  QStringLiteral("link,config.local_ip,config.mac,mqtt.device_name,mqtt.device_secret\r\n"
                                                 "serial:%1,192.0.2.21,auto,unit-21,s21\r\n"
                                                 "\"serial:%2@115200,none\",192.0.2.22,02:00:00:00:00:22,\"unit,22\",s22\r\n")
                                      .arg(a.sim.SerialPath(), b.sim.SerialPath()));
  const QString report = dir.filePath(QStringLiteral("run.csv"));

  const CliRun r = CliProcess::Run({QStringLiteral("--units"), sheet, QStringLiteral("--report"), report,
                                    QStringLiteral("apply"), profile, QStringLiteral("--verify")});
  ASSERT_EQ(r.status, 0) << r;

  const ConfigForm fa = Stored(a), fb = Stored(b);
  EXPECT_EQ(fa.local_ip, (Ipv4Octets{192, 0, 2, 21}));
  EXPECT_EQ(fb.local_ip, (Ipv4Octets{192, 0, 2, 22}));
  EXPECT_EQ(CanonicalMac(fb.mac), QStringLiteral("02:00:00:00:00:22"));
  // "auto": a locally administered unicast MAC of its own.
  const QString auto_mac = CanonicalMac(fa.mac);
  ASSERT_EQ(auto_mac.size(), 17) << fa.mac;
  EXPECT_EQ(auto_mac.left(2).toInt(nullptr, 16) & 0x03, 0x02) << fa.mac;
  EXPECT_NE(auto_mac, CanonicalMac(fb.mac));

  const QStringList lines = CsvLines(report);
  ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("started,command,link,address,version,version_after,csq,mac,local_ip,"
                                                 "mqtt_device_name,steps,result,error,seconds")));
  const QString row_b = lines[1].contains(a.sim.SerialPath()) ? lines[2] : lines[1];
  EXPECT_TRUE(row_b.contains(QStringLiteral(",02:00:00:00:00:22,192.0.2.22,\"unit,22\",config+mqtt+verify,ok,,"))) << row_b.toStdString();
  EXPECT_TRUE(row_b.contains(QStringLiteral("DTU V2.4.1 (simulator),,23,"))) << row_b.toStdString();
  // The secret is written to the device, never to the report.
  EXPECT_FALSE(lines.join(QString()).contains(QStringLiteral("s22")));
}

TEST(CliUnits, ABadCellNamesItsRowAndColumnAndReachesNoDevice) {
  QTemporaryDir dir;
  SimDevice a, b;
  a.Start(dir.path(), QStringLiteral("a"));
  b.Start(dir.path(), QStringLiteral("b"));
  const QString profile = Template(dir.path());
  const struct {
    QString sheet;
    const char* message;
  } cases[] = {
      {QStringLiteral("link,config.local_ip\nserial:%1,192.0.2.5\nserial:%2,192.0.2.300\n"), "row 3, column B (config.local_ip):"},
      {QStringLiteral("link,config.dhcp\nserial:%1,maybe\nserial:%2,true\n"), "row 2, column B (config.dhcp): \"maybe\" is not a true or false"},
      {QStringLiteral("link,config.colour\nserial:%1,red\nserial:%2,blue\n"), "column B (config.colour): config has no key colour"},
      {QStringLiteral("link\nserial:%1\nudp:192.0.2.255\n"), "row 3, column A (link)"},
      {QStringLiteral("link,config.local_ip\nserial:%1,192.0.2.5\nserial:%2,192.0.2.5\n"), "config.local_ip 192.0.2.5 would go to 2 devices"},
  };
  for (const auto& c : cases) {
    const QString sheet = WriteText(dir.filePath(QStringLiteral("units.csv")), c.sheet.arg(a.sim.SerialPath(), b.sim.SerialPath()));
    const CliRun r = CliProcess::Run({QStringLiteral("--units"), sheet, QStringLiteral("apply"), profile});
    EXPECT_EQ(r.status, 2) << r;
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r;
  }
  EXPECT_EQ(a.FramesReceived(), 0u);
  EXPECT_EQ(b.FramesReceived(), 0u);
}

TEST(CliIdentity, OneProfileOnSeveralDevicesIsRefusedNamingTheFieldUnlessAllowed) {
  QTemporaryDir dir;
  SimDevice a, b;
  a.Start(dir.path(), QStringLiteral("a"));
  b.Start(dir.path(), QStringLiteral("b"));
  const QString profile = Template(dir.path());
  const QStringList links = a.link + b.link;

  const CliRun refused = CliProcess::Run(links + QStringList{QStringLiteral("apply"), profile});
  EXPECT_EQ(refused.status, 2) << refused;
  EXPECT_TRUE(refused.err.contains(QStringLiteral("config.local_ip 192.168.1.100 would go to 2 devices"))) << refused;
  EXPECT_TRUE(refused.err.contains(QStringLiteral("mqtt.device_name nb_sample"))) << refused;
  EXPECT_TRUE(refused.err.contains(QStringLiteral("mqtt.device_secret (the same secret)"))) << refused;

  // In JSON the refusal is one object on standard output.
  const CliRun json = CliProcess::Run(links + QStringList{QStringLiteral("--json"), QStringLiteral("apply"), profile});
  const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
  EXPECT_EQ(o.value(QStringLiteral("exit")).toInt(), 2) << json;
  EXPECT_TRUE(o.value(QStringLiteral("error")).toString().contains(QStringLiteral("config.local_ip"))) << json;
  EXPECT_TRUE(json.err.isEmpty()) << json;
  EXPECT_EQ(a.FramesReceived() + b.FramesReceived(), 0u);

  SimDevice c, d;
  c.Start(dir.path(), QStringLiteral("c"));
  d.Start(dir.path(), QStringLiteral("d"));
  QStringList allow;
  for (const char* f : {"config.local_ip", "mqtt.device_name", "mqtt.device_secret"}) allow << QStringLiteral("-allow-same") << QString::fromLatin1(f);
  const CliRun allowed = CliProcess::Run(c.link + d.link + allow + QStringList{QStringLiteral("apply"), profile});
  EXPECT_EQ(allowed.status, 0) << allowed;
}

// With --report the version and CSQ are asked first, so the fourth reply is the one to
// the MQTT write: the device drops it, after the configuration was written.
TEST(CliFailures, AFailedApplyNamesTheStepsAlreadyDoneEverywhere) {
  QTemporaryDir dir;
  SimDevice d;
  d.Start(dir.path(), QStringLiteral("d"), {}, {QStringLiteral("--drop-every"), QStringLiteral("4")});
  const QString profile = Template(dir.path());
  const QString report = dir.filePath(QStringLiteral("run.jsonl"));
  const CliRun r = CliProcess::Run(d.link + QStringList{QStringLiteral("--timeout"), QStringLiteral("400"), QStringLiteral("--report"),
                                                        report, QStringLiteral("apply"), profile});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("write-mqtt: no answer within 400 ms (done on this device before: config)"))) << r;
  QFile f(report);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QJsonObject row = QJsonDocument::fromJson(f.readLine()).object();
  EXPECT_EQ(row.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
  EXPECT_EQ(row.value(QStringLiteral("steps")).toArray().toVariantList(), QVariantList{QStringLiteral("config")});
  EXPECT_TRUE(row.value(QStringLiteral("error")).toString().startsWith(QStringLiteral("write-mqtt: no answer")));
  EXPECT_EQ(row.value(QStringLiteral("csq")).toInt(), 23);

  const CliRun json = CliProcess::Run(d.link + QStringList{QStringLiteral("--timeout"), QStringLiteral("400"), QStringLiteral("--json"),
                                                           QStringLiteral("--report"), report, QStringLiteral("apply"), profile});
  const QJsonObject line = QJsonDocument::fromJson(json.out.trimmed().toUtf8()).object();
  EXPECT_EQ(line.value(QStringLiteral("steps")).toArray().size(), 1) << json;
}

TEST(CliFailures, AFileThatFailsAfterTheDeviceWasReadKeepsWhatWasRead) {
  QTemporaryDir dir;
  SimDevice d;
  d.Start(dir.path(), QStringLiteral("d"));
  const CliRun r = CliProcess::Run(d.link + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"),
                                                        dir.filePath(QStringLiteral("no/such/folder/site.json"))});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("the profile read is printed on standard output"))) << r;
  const ProfileResult printed = ParseProfile(r.out.toUtf8());
  ASSERT_TRUE(printed.profile) << r;
  EXPECT_TRUE(printed.profile->config);
}

TEST(CliDeadline, EndsTheWholeRunSayingWhereEachDeviceStood) {
  QTemporaryDir dir;
  SimDevice silent;
  silent.Start(dir.path(), QStringLiteral("s"), {}, {QStringLiteral("--silent")});
  const CliRun r = CliProcess::Run(silent.link + QStringList{QStringLiteral("--timeout"), QStringLiteral("60000"),
                                                             QStringLiteral("--deadline"), QStringLiteral("1"), QStringLiteral("version")});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("deadline of 1 s reached while waiting for the answer to version"))) << r;
  EXPECT_LT(r.elapsed_ms, 5000) << r;
}

TEST(CliJson, EveryOutcomeIsJsonOnStandardOutputErrorsIncluded) {
  QTemporaryDir dir;
  const QString bad = WriteText(dir.filePath(QStringLiteral("bad.json")), QStringLiteral("{\"format\": \"velmora-profile\"}"));
  const QList<QStringList> runs{
      {QStringLiteral("--json"), QStringLiteral("--serial"), QStringLiteral("/dev/null"), QStringLiteral("apply"), bad},
      {QStringLiteral("--json"), QStringLiteral("frobnicate")},
      {QStringLiteral("--json"), QStringLiteral("--timeout"), QStringLiteral("soon"), QStringLiteral("version")},
  };
  for (const QStringList& args : runs) {
    const CliRun r = CliProcess::Run(args);
    EXPECT_EQ(r.status, 2) << r;
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("exit")).toInt(), 2) << r;
    EXPECT_FALSE(o.value(QStringLiteral("error")).toString().isEmpty()) << r;
    EXPECT_TRUE(r.err.isEmpty()) << r;
  }
}

// Every link is opened before any device is asked, and each device's wait starts at its
// own frame: one quick device among nineteen silent terminals makes it in 200 ms.
TEST(CliManyLinks, OneDeviceAmongNineteenSilentTerminalsAnswersWithinAShortTimeout) {
  QTemporaryDir dir;
  SimDevice quick;
  quick.Start(dir.path(), QStringLiteral("q"), {}, {QStringLiteral("--delay-ms"), QStringLiteral("6")});
  std::vector<std::unique_ptr<test::PtyPair>> silent;
  QStringList args;
  for (int i = 0; i < 19; ++i) {
    silent.push_back(std::make_unique<test::PtyPair>());
    ASSERT_TRUE(silent.back()->Ok());
    args << QStringLiteral("--serial") << silent.back()->SlavePath();
    if (i == 9) args << quick.link;
  }
  const CliRun r = CliProcess::Run(args + QStringList{QStringLiteral("--timeout"), QStringLiteral("200"), QStringLiteral("version")});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.out.contains(quick.sim.SerialPath() + QStringLiteral(": DTU V2.4.1 (simulator)"))) << r;
  EXPECT_EQ(r.err.count(QStringLiteral(": version: no answer within 200 ms")), 19) << r;
}

QString Image(const QString& dir, int bytes) {
  QFile f(dir + QStringLiteral("/fw.bin"));
  EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(QByteArray(bytes, '\x3C'));
  return f.fileName();
}

// The device restarts silent for 1.5 s into the new version: awaited and proved; an
// expectation it does not meet names what it does answer.
TEST(CliUpgradeProof, TheNewVersionIsAwaitedThroughTheRestartAndAWrongOneIsNamed) {
  QTemporaryDir dir;
  SimDevice d;
  d.Start(dir.path(), QStringLiteral("d"), {},
          {QStringLiteral("--version-after-upgrade"), QStringLiteral("DTU V2.5.0"), QStringLiteral("--restart-ms"), QStringLiteral("1500")});
  const QString image = Image(dir.path(), 3000);
  const CliRun ok = CliProcess::Run(d.link + QStringList{QStringLiteral("--json"), QStringLiteral("upgrade"), image, QStringLiteral("--expect-version"),
                                                         QStringLiteral("DTU V2.5.0"), QStringLiteral("--restart-wait"), QStringLiteral("10")});
  ASSERT_EQ(ok.status, 0) << ok;
  const QJsonObject line = QJsonDocument::fromJson(ok.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).constLast().toUtf8()).object();
  EXPECT_EQ(line.value(QStringLiteral("version_after")).toString(), QStringLiteral("DTU V2.5.0")) << ok;
  EXPECT_EQ(line.value(QStringLiteral("steps")).toArray().toVariantList(), (QVariantList{QStringLiteral("firmware"), QStringLiteral("verify")})) << ok;
  EXPECT_GE(ok.elapsed_ms, 1500) << ok;

  const CliRun wrong = CliProcess::Run(d.link + QStringList{QStringLiteral("upgrade"), image, QStringLiteral("--expect-version"),
                                                            QStringLiteral("DTU V3.0.0"), QStringLiteral("--restart-wait"), QStringLiteral("3")});
  EXPECT_EQ(wrong.status, 1) << wrong;
  EXPECT_TRUE(wrong.err.contains(QStringLiteral("answers version \"DTU V2.5.0\", not \"DTU V3.0.0\""))) << wrong;
  const test::SimCounts counts = d.sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("fw.images-accepted")), 2u);
}

// A device that answers every end frame with OK gets it 3 times, then the upload fails.
TEST(CliEndFrame, ADeviceThatNeverJudgesTheImageEndsTheUploadAsAFailure) {
  QTemporaryDir dir;
  SimDevice d;
  d.Start(dir.path(), QStringLiteral("d"), {}, {QStringLiteral("--ok-end")});
  const CliRun r = CliProcess::Run(d.link + QStringList{QStringLiteral("upgrade"), Image(dir.path(), 3000)}, 20000);
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("the device answered the end frame 3 times with OK, never YES or XERR"))) << r;
  const test::SimCounts counts = d.sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("fw.ends-not-judged")), 3u);
}

// Ctrl-C while the device holds its answer to the end frame (1 s a reply): the line says
// the end frame went out, and how often the device had answered OK.
TEST(CliEndFrame, CtrlCAfterTheEndFrameSaysItWentOut) {
  QTemporaryDir dir;
  const QString image = Image(dir.path(), 100);
  const struct {
    int ends_heard;
    const char* says;
  } cases[] = {
      {1, "; the end frame went out and the device had not answered it"},
      {2, "; the end frame went out 2 times, the device answered OK 1 times and had not yet answered the last"},
  };
  for (const auto& c : cases) {
    SimDevice d;
    d.Start(dir.path(), QStringLiteral("d"), {}, {QStringLiteral("--ok-end"), QStringLiteral("--delay-ms"), QStringLiteral("1000")});
    CliProcess cli;
    ASSERT_TRUE(cli.Start(d.link + QStringList{QStringLiteral("upgrade"), image}));
    ASSERT_TRUE(d.sim.WaitForLines(QStringLiteral("end not judged"), c.ends_heard, 10000)) << d.sim.Lines().join(QLatin1Char('\n')).toStdString();
    ::kill(static_cast<pid_t>(cli.Process().processId()), SIGINT);
    const CliRun r = cli.Finish();
    EXPECT_EQ(r.status, 130) << r;
    EXPECT_TRUE(r.err.contains(QStringLiteral("after 100 of 100 bytes") + QString::fromUtf8(c.says))) << r;
    EXPECT_FALSE(r.err.contains(QStringLiteral("no end frame was sent"))) << r;
  }
}

}  // namespace
}  // namespace velmora
