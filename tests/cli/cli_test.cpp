// velmora-cli as a script would run it, against velmora-sim over a pseudo-terminal and
// loopback UDP: what a profile says reaches the device byte for byte and reads back
// identical, a bad profile reaches no device, a silent device fails within the time-out,
// and a run on several devices reports each one.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <termios.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>

#include "config/config_record.h"
#include "profile/profile.h"
#include "profile/profile_compare.h"
#include "profile/profile_reader.h"
#include "profile/profile_writer.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "support/cli_process.h"
#include "support/sim_device.h"
#include "support/pty_pair.h"
#include "support/sim_process.h"
#include "support/udp_test_port.h"

namespace velmora {
namespace {

using test::CliProcess;
using test::CliRun;
using test::SimProcess;
using namespace std::chrono_literals;

QString U(const char* s) { return QString::fromUtf8(s); }

using test::LocalPort;
using Device = test::SimDevice;

QByteArray Record(const ConfigForm& form) {
  const ConfigRecord r = EncodeConfig(form);
  return QByteArray(reinterpret_cast<const char*>(r.data()), static_cast<qsizetype>(r.size()));
}

// The template as the command line prints it, with every kind of field moved away from
// its default: addresses, numbers as text, list choices, Chinese text, the MAC.
Profile SiteProfile() {
  const CliRun t = CliProcess::Run({QStringLiteral("template")});
  EXPECT_EQ(t.status, 0) << t;
  ProfileResult parsed = ParseProfile(t.out.toUtf8());
  EXPECT_TRUE(parsed.profile) << parsed.error.toStdString();
  if (!parsed.profile) return {};
  Profile p = *parsed.profile;
  EXPECT_TRUE(p.config && p.mqtt);
  ConfigForm& c = *p.config;
  c.local_ip = {192, 168, 7, 9};
  c.gateway = {192, 168, 7, 1};
  c.server_ip = {10, 20, 30, 40};
  c.eth_port = "5020";
  c.domain = ToGbk(U("站点一.example.com"));
  c.net_mode = 2;
  c.uart_baud = 3;
  c.uart_parity = 2;
  c.tx_power = 4;
  c.lora_net_addr = "77";
  c.mac = "02:11:22:33:44:55";
  p.mqtt.reset();
  return p;
}

class CliRoundTrip : public ::testing::TestWithParam<const char*> {};

// template -> edit -> write-config --verify -> read-config -o: the profile read back is the
// one written, and the device keeps the very record the form makes; then the MQTT
// credentials through write-mqtt and read-mqtt -o.
TEST_P(CliRoundTrip, ProfileWrittenReadsBackIdentical) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Device d;
  const bool udp = QString::fromLatin1(GetParam()) == QLatin1String("udp");
  d.Start(dir.path(), QStringLiteral("dev"), udp ? QStringLiteral("127.0.0.1") : QString());
  const QStringList link = d.link + (udp ? LocalPort() : QStringList{});

  const Profile site = SiteProfile();
  ASSERT_TRUE(site.config);
  const QString site_path = dir.filePath(QStringLiteral("site.json"));
  QString error;
  ASSERT_TRUE(WriteProfileFile(site_path, site, &error)) << error.toStdString();

  const CliRun w = CliProcess::Run(link + QStringList{QStringLiteral("write-config"), site_path, QStringLiteral("--verify")});
  ASSERT_EQ(w.status, 0) << w;
  EXPECT_TRUE(w.out.contains(QStringLiteral("verified"))) << w;
  EXPECT_EQ(d.StoredConfig().toHex(), Record(*site.config).toHex());

  const QString back_path = dir.filePath(QStringLiteral("back.json"));
  const CliRun r = CliProcess::Run(link + QStringList{QStringLiteral("read-config"), QStringLiteral("-o"), back_path});
  ASSERT_EQ(r.status, 0) << r;
  const ProfileResult back = ReadProfileFile(back_path);
  ASSERT_TRUE(back.profile) << back.error.toStdString();
  ASSERT_TRUE(back.profile->config);
  EXPECT_TRUE(ConfigDifferences(*site.config, *back.profile->config).isEmpty())
      << ConfigDifferences(*site.config, *back.profile->config).join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(Record(*back.profile->config).toHex(), Record(*site.config).toHex());

  // Printed rather than saved: the same profile on standard output, nothing else there.
  const CliRun printed = CliProcess::Run(link + QStringList{QStringLiteral("read-config")});
  ASSERT_EQ(printed.status, 0) << printed;
  const ProfileResult shown = ParseProfile(printed.out.toUtf8());
  ASSERT_TRUE(shown.profile) << shown.error.toStdString() << printed;
  EXPECT_EQ(shown.profile->config, back.profile->config);

  // The MQTT credentials the same way; the file that holds them is the owner's only.
  Profile creds;
  creds.mqtt = TemplateProfile().mqtt;
  creds.mqtt->port_map = 3;
  creds.mqtt->device_name = "line-7";
  creds.mqtt->device_secret = "0123456789abcdef0123456789abcdef";
  const QString creds_path = dir.filePath(QStringLiteral("creds.json"));
  ASSERT_TRUE(WriteProfileFile(creds_path, creds, &error)) << error.toStdString();
  const CliRun wm = CliProcess::Run(link + QStringList{QStringLiteral("write-mqtt"), creds_path});
  ASSERT_EQ(wm.status, 0) << wm;
  const QString creds_back = dir.filePath(QStringLiteral("creds-back.json"));
  const CliRun rm = CliProcess::Run(link + QStringList{QStringLiteral("read-mqtt"), QStringLiteral("-o"), creds_back});
  ASSERT_EQ(rm.status, 0) << rm;
  EXPECT_EQ(QFile(creds_back).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions{});
  const ProfileResult mqtt_back = ReadProfileFile(creds_back);
  ASSERT_TRUE(mqtt_back.profile && mqtt_back.profile->mqtt) << mqtt_back.error.toStdString();
  EXPECT_TRUE(MqttDifferences(*creds.mqtt, *mqtt_back.profile->mqtt).isEmpty())
      << MqttDifferences(*creds.mqtt, *mqtt_back.profile->mqtt).join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Links, CliRoundTrip, ::testing::Values("pty", "udp"));

// Each kind of mistake in a profile: exit 2, a message naming the field, and the device
// hears nothing at all.
struct Mistake {
  const char* name;
  const char* field;  // what the message must name
  std::function<void(QJsonObject& config)> edit;
};
void PrintTo(const Mistake& m, std::ostream* os) { *os << m.name; }

class CliBadProfile : public ::testing::TestWithParam<Mistake> {};

TEST_P(CliBadProfile, RefusedBeforeAnythingIsSent) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Device d;
  d.Start(dir.path(), QStringLiteral("dev"));

  const CliRun t = CliProcess::Run({QStringLiteral("template")});
  ASSERT_EQ(t.status, 0) << t;
  QJsonObject root = QJsonDocument::fromJson(t.out.toUtf8()).object();
  QJsonObject config = root.value(QStringLiteral("config")).toObject();
  ASSERT_FALSE(config.isEmpty()) << t;
  GetParam().edit(config);
  root.insert(QStringLiteral("config"), config);
  const QString path = dir.filePath(QStringLiteral("bad.json"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QJsonDocument(root).toJson());
  f.close();

  for (const char* command : {"write-config", "apply"}) {
    const CliRun r = CliProcess::Run(d.link + QStringList{QString::fromLatin1(command), path, QStringLiteral("--verify")});
    EXPECT_EQ(r.status, 2) << command << "\n" << r;
    EXPECT_TRUE(r.err.contains(QString::fromLatin1(GetParam().field))) << command << "\n" << r;
  }
  EXPECT_EQ(d.FramesReceived(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, CliBadProfile,
    ::testing::Values(
        Mistake{"wrong_type", "config.lora_net_address", [](QJsonObject& c) { c.insert(QStringLiteral("lora_net_address"), QJsonArray{1, 2}); }},
        Mistake{"out_of_range", "config.eth_port", [](QJsonObject& c) { c.insert(QStringLiteral("eth_port"), 70000); }},
        Mistake{"unknown_key", "config.eth_prot", [](QJsonObject& c) { c.insert(QStringLiteral("eth_prot"), 502); }},
        Mistake{"gbk_too_long", "config.domain",
                [](QJsonObject& c) {
                  // 33 characters of two GBK bytes each: 66 bytes, two over the limit.
                  c.insert(QStringLiteral("domain"), QString(33, QChar(0x7AD9)));
                }},
        Mistake{"bad_address", "config.local_ip", [](QJsonObject& c) { c.insert(QStringLiteral("local_ip"), QStringLiteral("192.168.1.300")); }},
        Mistake{"bad_caption", "config.uart_parity", [](QJsonObject& c) { c.insert(QStringLiteral("uart_parity"), QStringLiteral("EVN")); }}),
    [](const ::testing::TestParamInfo<Mistake>& i) { return std::string(i.param.name); });

// The device's version text is GBK; the command line prints it as UTF-8, plain and in
// its JSON line.
TEST(CliVersion, GbkTextIsPrintedAsUtf8) {
  QTemporaryDir dir;
  Device d;
  const QString text = U("数据终端 V3.1 (测试)");
  d.Start(dir.path(), QStringLiteral("dev"), {}, {QStringLiteral("--version"), text});
  const CliRun plain = CliProcess::Run(d.link + QStringList{QStringLiteral("version")});
  ASSERT_EQ(plain.status, 0) << plain;
  EXPECT_EQ(plain.out, d.sim.SerialPath() + QStringLiteral(": ") + text + QLatin1Char('\n'));
  const CliRun json = CliProcess::Run(d.link + QStringList{QStringLiteral("--json"), QStringLiteral("version")});
  ASSERT_EQ(json.status, 0) << json;
  EXPECT_EQ(QJsonDocument::fromJson(json.out.toUtf8()).object().value(QStringLiteral("version")).toString(), text);
}

// A device that never answers: exit 1, within the time-out (plus start-up), naming what
// it waited for.
TEST(CliSilentDevice, FailsWithinTheTimeout) {
  QTemporaryDir dir;
  Device d;
  d.Start(dir.path(), QStringLiteral("dev"), {}, {QStringLiteral("--silent")});
  const CliRun r = CliProcess::Run(d.link + QStringList{QStringLiteral("--timeout"), QStringLiteral("500"), QStringLiteral("version")});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_GE(r.elapsed_ms, 500);
  EXPECT_LT(r.elapsed_ms, 3000);
  EXPECT_TRUE(r.err.contains(QStringLiteral("no answer within 500 ms"))) << r;
}

// Three devices at once, one of them silent: the other two take the configuration, each
// device gets its own line, the summary names all three, and the status says one failed.
TEST(CliManyDevices, OneSilentDeviceFailsAloneTheRestSucceed) {
  QTemporaryDir dir;
  Device serial_ok, udp_ok, silent;
  serial_ok.Start(dir.path(), QStringLiteral("a"));
  udp_ok.Start(dir.path(), QStringLiteral("b"), QStringLiteral("127.0.0.2"));
  silent.Start(dir.path(), QStringLiteral("c"), {}, {QStringLiteral("--silent")});

  const Profile site = SiteProfile();
  const QString path = dir.filePath(QStringLiteral("site.json"));
  QString error;
  ASSERT_TRUE(WriteProfileFile(path, site, &error)) << error.toStdString();

  const CliRun r = CliProcess::Run(serial_ok.link + udp_ok.link + silent.link + LocalPort() +
                                   QStringList{QStringLiteral("--timeout"), QStringLiteral("800"),
                                               QStringLiteral("--allow-same"), QStringLiteral("config.local_ip"),
                                               QStringLiteral("--allow-same"), QStringLiteral("config.mac"),
                                               QStringLiteral("write-config"), path});
  EXPECT_EQ(r.status, 1) << r;
  const QString ok_a = serial_ok.sim.SerialPath() + QStringLiteral(": configuration written");
  const QString ok_b = QStringLiteral("udp:127.0.0.2:%1: configuration written").arg(udp_ok.sim.UdpPort());
  const QString failed = silent.sim.SerialPath() + QStringLiteral(": write-config: no answer within 800 ms");
  EXPECT_TRUE(r.out.contains(ok_a)) << r;
  EXPECT_TRUE(r.out.contains(ok_b)) << r;
  EXPECT_TRUE(r.err.contains(failed)) << r;
  EXPECT_TRUE(r.out.contains(QStringLiteral("2 of 3 devices succeeded"))) << r;
  // Concurrently: all three together take about one time-out, not one after another.
  EXPECT_LT(r.elapsed_ms, 800 + 2500) << r;
  EXPECT_EQ(serial_ok.StoredConfig().toHex(), Record(*site.config).toHex());
  EXPECT_EQ(udp_ok.StoredConfig().toHex(), Record(*site.config).toHex());

  // Several UDP devices need unicast addresses: replies are told apart by their sender.
  const CliRun b = CliProcess::Run({QStringLiteral("--udp"), QStringLiteral("127.0.0.2"), QStringLiteral("--udp"),
                                    QStringLiteral("127.0.0.255"), QStringLiteral("version")});
  EXPECT_EQ(b.status, 2) << b;
  EXPECT_TRUE(b.err.contains(QStringLiteral("unicast"))) << b;
}

// Replies are taken only from the device's own address: another host answering in its
// place (here 127.0.0.3 for a silent device at 127.0.0.2) is not heard.
TEST(CliStrangers, ReplyFromAnotherSenderIsNotTheAnswer) {
  QTemporaryDir dir;
  Device d;
  d.Start(dir.path(), QStringLiteral("dev"), QStringLiteral("127.0.0.2"), {QStringLiteral("--silent")});
  const quint16 local = test::FreeUdpPort();
  QUdpSocket stranger;
  test::NoProxy(stranger);
  ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0));
  const auto forged = *BuildReplyFrame(cmd::kReadVersion, std::vector<uint8_t>{'F', 'A', 'K', 'E'});

  CliProcess cli;
  ASSERT_TRUE(cli.Start(d.link + QStringList{QStringLiteral("--local-port"), QString::number(local),
                                            QStringLiteral("--timeout"), QStringLiteral("1000"),
                                            QStringLiteral("--json"), QStringLiteral("version")}));
  for (int i = 0; i < 15 && cli.Process().state() == QProcess::Running; ++i) {
    stranger.writeDatagram(reinterpret_cast<const char*>(forged.data()), static_cast<qint64>(forged.size()),
                           QHostAddress::LocalHost, local);
    QTest::qWait(50);
  }
  const CliRun r = cli.Finish();
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_FALSE(r.out.contains(QStringLiteral("FAKE"))) << r;
  const QJsonObject line = QJsonDocument::fromJson(r.out.trimmed().toUtf8()).object();
  EXPECT_EQ(line.value(QStringLiteral("result")).toString(), QStringLiteral("failed")) << r;
  EXPECT_EQ(line.value(QStringLiteral("status")).toInt(), 1) << r;
}

// Qt reads a one-dash word as the long option of that name, so every LINK option spelled
// with one dash must do exactly what it does with two. Each case runs with both spellings.
class CliLinkSpelling : public ::testing::TestWithParam<const char*> {
 protected:
  static QString Opt(const char* name) { return QString::fromLatin1(GetParam()) + QLatin1String(name); }
};

TEST_P(CliLinkSpelling, LinkOptionsReachTheirDevice) {
  // The test plays the device on a pseudo-terminal, so it sees the line the program set.
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CliProcess cli;
  ASSERT_TRUE(cli.Start({Opt("serial"), pty.SlavePath(), Opt("baud"), QStringLiteral("9600"), Opt("parity"),
                         QStringLiteral("none"), QStringLiteral("version")}));
  const auto request = *BuildCommandFrame(cmd::kReadVersion, {});
  ASSERT_EQ(pty.ReadMaster(request.size(), 10s), request);
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
  ASSERT_TRUE(pty.WriteMaster(*BuildReplyFrame(cmd::kReadVersion, std::vector<uint8_t>{'V', '9'})));
  const CliRun served = cli.Finish();
  EXPECT_EQ(served.status, 0) << served;
  EXPECT_EQ(served.out, pty.SlavePath() + QStringLiteral(": V9\n")) << served;

  // A pseudo-terminal cannot keep a parity: asking for one fails the open.
  const CliRun parity = CliProcess::Run({Opt("serial"), pty.SlavePath(), Opt("parity"), QStringLiteral("even"),
                                         QStringLiteral("version")});
  EXPECT_EQ(parity.status, 3) << parity;
  EXPECT_TRUE(pty.DrainMaster(50ms).empty());

  // The second UDP device and its port in this spelling, after one in the usual one: each
  // device port stays with its own address, and both answer to the local port given.
  QTemporaryDir dir;
  Device a, b;
  a.Start(dir.path(), QStringLiteral("a"), QStringLiteral("127.0.0.2"));
  b.Start(dir.path(), QStringLiteral("b"), QStringLiteral("127.0.0.3"));
  const QString local = QString::number(test::FreeUdpPort());
  const CliRun both = CliProcess::Run(a.link + QStringList{Opt("udp"), QStringLiteral("127.0.0.3"), Opt("device-port"),
                                                           QString::number(b.sim.UdpPort()), Opt("local-port"), local,
                                                           QStringLiteral("version")});
  EXPECT_EQ(both.status, 0) << both;
  EXPECT_TRUE(both.out.contains(QStringLiteral("udp:127.0.0.2:%1: ").arg(a.sim.UdpPort()))) << both;
  EXPECT_TRUE(both.out.contains(QStringLiteral("udp:127.0.0.3:%1: ").arg(b.sim.UdpPort()))) << both;
  for (SimProcess* sim : {&a.sim, &b.sim}) {
    const auto answered_to_local = [&] {
      const QStringList lines = sim->Lines();
      return std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
        return l.contains(QStringLiteral(" tx ")) && l.endsWith(QLatin1Char(':') + local);
      });
    };
    EXPECT_TRUE(QTest::qWaitFor(answered_to_local, 5000)) << sim->Lines().join(QLatin1Char('\n')).toStdString();
  }
}

// A bad value is refused whatever the spelling: exit 2, the message names the option, and
// no device hears a thing.
TEST_P(CliLinkSpelling, BadValuesReachNoDevice) {
  QTemporaryDir dir;
  Device serial, udp;
  serial.Start(dir.path(), QStringLiteral("s"));
  udp.Start(dir.path(), QStringLiteral("u"), QStringLiteral("127.0.0.2"));
  const struct {
    QStringList args;
    const char* message;
  } cases[] = {
      {serial.link + QStringList{Opt("baud"), QStringLiteral("abc")}, "--baud takes a whole number"},
      {serial.link + QStringList{Opt("parity"), QStringLiteral("bogus")}, "--parity takes none, odd, even"},
      {QStringList{Opt("baud"), QStringLiteral("9600")} + serial.link, "--baud belongs after the --serial"},
      {udp.link + QStringList{Opt("device-port"), QStringLiteral("0")}, "--device-port takes a port"},
      {udp.link + QStringList{Opt("local-port"), QStringLiteral("70000")}, "--local-port takes a port"},
      {serial.link + QStringList{Opt("serial"), serial.sim.SerialPath()}, "is given twice"},
  };
  for (const auto& c : cases) {
    const CliRun r = CliProcess::Run(c.args + QStringList{QStringLiteral("version")});
    EXPECT_EQ(r.status, 2) << c.args.join(QLatin1Char(' ')).toStdString() << "\n" << r;
    EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.message))) << r;
  }
  EXPECT_EQ(serial.FramesReceived(), 0u);
  EXPECT_EQ(udp.FramesReceived(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Dashes, CliLinkSpelling, ::testing::Values("--", "-"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return std::string(i.param == std::string("-") ? "one" : "two");
                         });

// Ctrl-C during an upload: the upload stops, the device never gets the end frame, exit
// 130, and the message says how far it got.
TEST(CliInterrupt, CtrlCStopsAnUploadCleanly) {
  QTemporaryDir dir;
  Device d;
  d.Start(dir.path(), QStringLiteral("dev"), {}, {QStringLiteral("--delay-ms"), QStringLiteral("5")});
  const QString image = dir.filePath(QStringLiteral("fw.bin"));
  QFile f(image);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(256 * 1024, '\x5A'));
  f.close();

  CliProcess cli;
  ASSERT_TRUE(cli.Start(d.link + QStringList{QStringLiteral("upgrade"), image}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return cli.ErrorsSoFar().contains(QStringLiteral("upload 20%")); }, 30000))
      << cli.ErrorsSoFar().toStdString();
  ::kill(static_cast<pid_t>(cli.Process().processId()), SIGINT);
  const CliRun r = cli.Finish();
  EXPECT_EQ(r.status, 130) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("interrupted during the firmware upload after"))) << r;
  const test::SimCounts counts = d.sim.Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("fw.images-accepted")), 0u);
  EXPECT_GT(counts.Get(QStringLiteral("fw.chunks")), 0u);
}

}  // namespace
}  // namespace velmora
