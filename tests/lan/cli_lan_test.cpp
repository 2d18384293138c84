// velmora-cli on a real broadcast domain: host 0 of a test LAN runs the tool, simulators
// on the device hosts answer its broadcasts. A search lists every device with what it
// says of itself and flags cloned identities; a command given the broadcast address
// writes to no device while several answer, and with --all writes to each by its own
// address.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/test_lan.h"

namespace velmora::test {
namespace {

QString Mac(int host) { return QStringLiteral("02:00:5E:00:02:%1").arg(host, 2, 16, QLatin1Char('0')).toUpper(); }

// What one simulated device says of itself.
struct Identity {
  QString mac;
  QString local_ip;
};

// A LAN whose device hosts each run a simulator on UDP port 21 (every address, so it
// hears broadcasts), and velmora-cli on host 0.
class CliLan {
 public:
  // Declared first, removed last: the simulators stop before their hosts go.
  TestLan lan;
  std::vector<std::unique_ptr<SimProcess>> sims;

  bool Up(int devices, QString* why) { return lan.Up(devices, why); }

  // One simulator per identity, on hosts 1..N; started from the last host, so the order
  // of the answers is no help to the sorting.
  void StartSims(const std::vector<Identity>& ids) {
    sims.clear();
    sims.resize(ids.size());
    for (int h = static_cast<int>(ids.size()); h >= 1; --h) {
      auto sim = std::make_unique<SimProcess>();
      sim->SetLauncher(lan.Wrap(h, {}));
      const Identity& id = ids[static_cast<std::size_t>(h - 1)];
      ASSERT_TRUE(sim->Start({QStringLiteral("--no-serial"), QStringLiteral("--udp-address"), QStringLiteral("0.0.0.0"),
                              QStringLiteral("--udp-port"), QStringLiteral("21"), QStringLiteral("--mac"), id.mac,
                              QStringLiteral("--local-ip"), id.local_ip, QStringLiteral("--version"),
                              QStringLiteral("DTU unit %1").arg(h)}))
          << sim->StartError().toStdString();
      sims[static_cast<std::size_t>(h - 1)] = std::move(sim);
    }
  }
  // Each host's own address and a MAC of its own.
  void StartOwnSims(int n) {
    std::vector<Identity> ids;
    for (int h = 1; h <= n; ++h) ids.push_back({Mac(h), lan.Address(h).toString()});
    StartSims(ids);
  }

  CliRun Cli(const QStringList& args) { return CliProcess::RunThrough(lan.Wrap(0, {}), args); }
  CliRun Broadcast(const QStringList& args) {
    return Cli(QStringList{QStringLiteral("--udp"), TestLan::Broadcast().toString()} + args);
  }
};

std::vector<QJsonObject> JsonLines(const QString& text) {
  std::vector<QJsonObject> out;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(line.toUtf8(), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << line.toStdString();
    out.push_back(d.object());
  }
  return out;
}

TEST(CliLanDiscover, ListsEveryDeviceByAddressWithItsOwnWordsAndFlagsClones) {
  CliLan net;
  QString why;
  if (!net.Up(3, &why)) GTEST_SKIP() << why.toStdString();
  net.StartOwnSims(3);

  const QStringList json{QStringLiteral("discover"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("1000")};
  CliRun r = net.Broadcast(json);
  ASSERT_EQ(r.status, 0) << r;
  std::vector<QJsonObject> found = JsonLines(r.out);
  ASSERT_EQ(found.size(), 3u) << r;
  for (int h = 1; h <= 3; ++h) {
    const QJsonObject& d = found[static_cast<std::size_t>(h - 1)];
    const QString ip = net.lan.Address(h).toString();
    EXPECT_EQ(d.value(QStringLiteral("address")).toString(), ip) << r;
    EXPECT_EQ(d.value(QStringLiteral("port")).toInt(), 21) << r;
    EXPECT_EQ(d.value(QStringLiteral("version")).toString(), QStringLiteral("DTU unit %1").arg(h)) << r;
    EXPECT_EQ(d.value(QStringLiteral("mac")).toString(), Mac(h)) << r;
    EXPECT_EQ(d.value(QStringLiteral("local_ip")).toString(), ip) << r;
    EXPECT_EQ(d.value(QStringLiteral("dhcp")), QJsonValue(false)) << r;
    EXPECT_EQ(d.value(QStringLiteral("conflict")), QJsonValue(false)) << r;
  }

  // The same in plain text: a line each, in address order.
  r = net.Broadcast({QStringLiteral("discover")});
  ASSERT_EQ(r.status, 0) << r;
  const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << r;
  for (int h = 1; h <= 3; ++h) {
    const QString& line = lines[h - 1];
    EXPECT_TRUE(line.startsWith(net.lan.Address(h).toString() + QStringLiteral(":21  DTU unit %1  mac %2").arg(h).arg(Mac(h))))
        << line.toStdString();
    EXPECT_FALSE(line.contains(QStringLiteral("CONFLICT"))) << line.toStdString();
  }

  // A cloned MAC, then a cloned static IP: both holders are flagged, the third is not.
  const std::vector<std::vector<Identity>> clones{
      {{Mac(1), QStringLiteral("192.0.2.10")}, {Mac(7), QStringLiteral("192.0.2.11")}, {Mac(7), QStringLiteral("192.0.2.12")}},
      {{Mac(1), QStringLiteral("192.0.2.50")}, {Mac(2), QStringLiteral("192.0.2.11")}, {Mac(3), QStringLiteral("192.0.2.50")}},
  };
  const std::vector<std::vector<bool>> flagged{{false, true, true}, {true, false, true}};
  for (std::size_t c = 0; c < clones.size(); ++c) {
    net.StartSims(clones[c]);
    r = net.Broadcast(json);
    ASSERT_EQ(r.status, 0) << r;
    found = JsonLines(r.out);
    ASSERT_EQ(found.size(), 3u) << r;
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(found[i].value(QStringLiteral("mac")).toString(), clones[c][i].mac) << r;
      EXPECT_EQ(found[i].value(QStringLiteral("conflict")), QJsonValue(flagged[c][i])) << "case " << c << ", device " << i << "\n" << r;
    }
  }

  // Nobody there: status 1 and no device line.
  net.sims.clear();
  r = net.Broadcast({QStringLiteral("discover"), QStringLiteral("--wait"), QStringLiteral("500")});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.out.isEmpty()) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("no device answered at 192.0.2.255"))) << r;
}

TEST(CliLanBroadcast, SeveralAnsweringGetNothingUnlessAllThenEachIsWrittenByItsOwnAddress) {
  CliLan net;
  QString why;
  if (!net.Up(3, &why)) GTEST_SKIP() << why.toStdString();
  net.StartOwnSims(3);
  QTemporaryDir dir;
  const CliRun t = CliProcess::Run({QStringLiteral("template")});
  ASSERT_EQ(t.status, 0) << t;
  const QString profile = dir.filePath(QStringLiteral("site.json"));
  {
    QFile f(profile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(t.out.toUtf8());
  }

  CliRun r = net.Broadcast({QStringLiteral("write-config"), profile});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("3 devices answered at 192.0.2.255; nothing was written"))) << r;
  for (int h = 1; h <= 3; ++h) EXPECT_TRUE(r.err.contains(QStringLiteral("\n  192.0.2.%1:21  DTU unit").arg(9 + h))) << r;

  // Each by its own address, read back, a line and a report row each. The template's
  // static IP is meant for all three here.
  const QString report = dir.filePath(QStringLiteral("run.jsonl"));
  r = net.Broadcast({QStringLiteral("--json"), QStringLiteral("--all"), QStringLiteral("--allow-same"), QStringLiteral("config.local_ip"),
                     QStringLiteral("--report"), report, QStringLiteral("write-config"), profile, QStringLiteral("--verify")});
  EXPECT_EQ(r.status, 0) << r;
  QStringList devices;
  for (const QJsonObject& o : JsonLines(r.out)) {
    if (!o.contains(QStringLiteral("device"))) continue;
    EXPECT_EQ(o.value(QStringLiteral("result")).toString(), QStringLiteral("ok")) << r;
    devices << o.value(QStringLiteral("device")).toString();
  }
  devices.sort();
  EXPECT_EQ(devices, (QStringList{QStringLiteral("udp:192.0.2.10"), QStringLiteral("udp:192.0.2.11"), QStringLiteral("udp:192.0.2.12")}))
      << r;
  QFile rows(report);
  ASSERT_TRUE(rows.open(QIODevice::ReadOnly));
  QStringList addresses;
  for (const QJsonObject& o : JsonLines(QString::fromUtf8(rows.readAll()))) addresses << o.value(QStringLiteral("address")).toString();
  addresses.sort();
  EXPECT_EQ(addresses, (QStringList{QStringLiteral("192.0.2.10:21"), QStringLiteral("192.0.2.11:21"), QStringLiteral("192.0.2.12:21")}));

  // Hosts 2 and 3 leave; their counts take in both runs: the refused one wrote nothing.
  for (std::size_t i = 1; i < 3; ++i) {
    const SimCounts counts = net.sims[i]->Stop();
    ASSERT_TRUE(counts.complete) << "device " << i;
    EXPECT_EQ(counts.Get(QStringLiteral("rx.E1")), 1u) << "device " << i;
  }

  // One device left: the command runs on it by its own address, no --all needed.
  r = net.Broadcast({QStringLiteral("write-config"), profile});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_TRUE(r.out.startsWith(QStringLiteral("udp:192.0.2.10: "))) << r;
  EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("192.0.2.255"))) << r;
  const SimCounts counts = net.sims[0]->Stop();
  EXPECT_EQ(counts.Get(QStringLiteral("rx.E1")), 2u);

  // None left: status 1, and the search was all that went out.
  r = net.Broadcast({QStringLiteral("write-config"), profile});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.contains(QStringLiteral("no device answered at 192.0.2.255 within 1000 ms"))) << r;
}

}  // namespace
}  // namespace velmora::test
