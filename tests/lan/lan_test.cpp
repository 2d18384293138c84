// A LAN of network namespaces, and simulators on it found by one broadcast, the way the
// tool finds devices.

#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkInterface>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

#include "config/config_record.h"
#include "device.h"
#include "support/frames.h"
#include "support/sim_process.h"
#include "support/test_lan.h"

namespace velmora::test {
namespace {

struct Datagram {
  Bytes bytes;
  QHostAddress from;
  quint16 port = 0;
};

// A plain datagram socket with SO_BROADCAST on a free port of every address, made in
// the calling thread's network namespace.
class BroadcastSocket {
 public:
  explicit BroadcastSocket(quint16 port = 0) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    ok_ = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
          ::bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
  }
  ~BroadcastSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  BroadcastSocket(const BroadcastSocket&) = delete;
  BroadcastSocket& operator=(const BroadcastSocket&) = delete;

  bool Ok() const { return ok_; }

  bool SendTo(const Bytes& bytes, const QHostAddress& to, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(to.toIPv4Address());
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(bytes.size());
  }

  // Datagrams until `want` have come and then `linger_ms` more passed, or `timeout_ms`
  // in all: an extra answer shows too.
  std::vector<Datagram> Collect(std::size_t want, int timeout_ms, int linger_ms = 300) {
    std::vector<Datagram> got;
    QDeadlineTimer deadline(timeout_ms);
    for (;;) {
      if (got.size() == want) deadline = QDeadlineTimer(std::min<qint64>(deadline.remainingTime(), linger_ms));
      pollfd p{fd_, POLLIN, 0};
      const int left = static_cast<int>(deadline.remainingTime());
      if (left <= 0 || ::poll(&p, 1, left) <= 0) return got;
      uint8_t buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) return got;
      got.push_back({Bytes(buf, buf + n), QHostAddress(ntohl(from.sin_addr.s_addr)), ntohs(from.sin_port)});
    }
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

QStringList InterfaceNames() {
  QStringList names;
  for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) names << i.name();
  names.sort();
  return names;
}

bool NamespaceExists(const QString& name) { return QFile::exists(QStringLiteral("/var/run/netns/") + name); }

TEST(TestLan, EveryHostHearsABroadcastAndNothingIsLeftBehind) {
  constexpr int kDevices = 128;
  const QStringList machine = InterfaceNames();
  QStringList names;
  {
    TestLan lan;
    QString why;
    if (!lan.Up(kDevices, &why)) GTEST_SKIP() << why.toStdString();
    EXPECT_EQ(InterfaceNames(), machine);  // nothing was made in the machine's own namespace
    for (int h = 0; h <= kDevices; ++h) names << lan.Name(h);
    for (const QString& n : names) EXPECT_TRUE(NamespaceExists(n)) << n.toStdString();

    // A socket made on a host stays there after the thread has left; all on one port,
    // which only hosts of their own allow.
    std::vector<std::unique_ptr<BroadcastSocket>> listeners;
    for (int h = 1; h <= kDevices; ++h) {
      TestLan::EnterHost inside(lan, h);
      ASSERT_TRUE(inside.Ok()) << inside.Error().toStdString();
      listeners.push_back(std::make_unique<BroadcastSocket>(4321));
      ASSERT_TRUE(listeners.back()->Ok()) << "host " << h;
    }
    {
      TestLan::EnterHost inside(lan, 0);
      ASSERT_TRUE(inside.Ok()) << inside.Error().toStdString();
      EXPECT_EQ(InterfaceNames(), (QStringList{"eth0", "lo"}));
      // IPv6 gives eth0 a link-local address of its own beside.
      auto entries = QNetworkInterface::interfaceFromName(QStringLiteral("eth0")).addressEntries();
      entries.removeIf([](const QNetworkAddressEntry& e) { return e.ip().protocol() != QHostAddress::IPv4Protocol; });
      ASSERT_EQ(entries.size(), 1);
      EXPECT_EQ(entries[0].ip(), QHostAddress(QStringLiteral("192.0.2.1")));
      EXPECT_EQ(entries[0].prefixLength(), 24);
      EXPECT_EQ(entries[0].broadcast(), TestLan::Broadcast());
      BroadcastSocket tool;
      ASSERT_TRUE(tool.Ok());
      ASSERT_TRUE(tool.SendTo(Text("hello"), TestLan::Broadcast(), 4321));
    }
    for (int h = 1; h <= kDevices; ++h) {
      const auto heard = listeners[static_cast<std::size_t>(h - 1)]->Collect(1, 3000, 0);
      ASSERT_EQ(heard.size(), 1u) << "host " << h;
      EXPECT_EQ(heard[0].bytes, Text("hello"));
      EXPECT_EQ(heard[0].from, lan.Address(0));
    }
    // Back home the thread sees the machine's interfaces again.
    EXPECT_EQ(InterfaceNames(), machine);
  }
  for (const QString& n : names) EXPECT_FALSE(NamespaceExists(n)) << n.toStdString();
  EXPECT_EQ(InterfaceNames(), machine);
}

QString Mac(int host) { return QStringLiteral("02:00:5E:00:02:%1").arg(host, 2, 16, QLatin1Char('0')).toUpper(); }

TEST(LanDiscovery, ThreeSimulatorsAnswerOneBroadcastEachWithItsOwnIdentity) {
  constexpr int kDevices = 3;
  TestLan lan;
  QString why;
  if (!lan.Up(kDevices, &why)) GTEST_SKIP() << why.toStdString();
  std::map<QString, int> host_of;  // sender address -> host
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int h = 1; h <= kDevices; ++h) {
    auto sim = std::make_unique<SimProcess>();
    sim->SetLauncher(lan.Wrap(h, {}));
    ASSERT_TRUE(sim->Start({"--no-serial", "--udp-address", "0.0.0.0", "--udp-port", "21", "--mac", Mac(h),
                            "--local-ip", lan.Address(h).toString()}))
        << sim->StartError().toStdString();
    sims.push_back(std::move(sim));
    host_of[lan.Address(h).toString()] = h;
  }

  TestLan::EnterHost on_tool(lan, 0);
  ASSERT_TRUE(on_tool.Ok()) << on_tool.Error().toStdString();
  BroadcastSocket tool;
  ASSERT_TRUE(tool.Ok());

  // Every answer comes back to the port the broadcast left from, one from each device.
  const auto ask = [&](const Bytes& frame) {
    EXPECT_TRUE(tool.SendTo(frame, TestLan::Broadcast(), 21));
    std::map<int, Bytes> by_host;
    for (const Datagram& d : tool.Collect(kDevices, 5000)) {
      EXPECT_EQ(d.port, 21);
      const auto it = host_of.find(d.from.toString());
      if (it == host_of.end()) {
        ADD_FAILURE() << "an answer from " << d.from.toString().toStdString();
        continue;
      }
      EXPECT_TRUE(by_host.emplace(it->second, d.bytes).second) << "twice from host " << it->second;
    }
    EXPECT_EQ(by_host.size(), static_cast<std::size_t>(kDevices));
    return by_host;
  };

  for (const auto& [host, answer] : ask({0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D}))
    EXPECT_EQ(answer, Reply(0xE3, Text(sim::kDefaultVersion))) << "host " << host;

  for (const auto& [host, answer] : ask({0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D})) {
    ASSERT_EQ(answer.size(), 4 + kConfigRecordSize + 2) << "host " << host;
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 4), (Bytes{0xF5, 0x00, 0xE2, 0xDD}));
    const ConfigForm record = DecodeConfig(std::span(answer).subspan(4, kConfigRecordSize), false);
    const quint32 ip = lan.Address(host).toIPv4Address();
    EXPECT_EQ(record.local_ip, (Ipv4Octets{192, 0, 2, static_cast<uint8_t>(ip & 0xFF)})) << "host " << host;
    EXPECT_EQ(QString::fromStdString(record.mac).simplified().replace(QLatin1Char(' '), QLatin1Char(':')), Mac(host));
  }

  for (auto& sim : sims) {
    const SimCounts counts = sim->Stop();
    EXPECT_EQ(counts.Get(QStringLiteral("rx.E3")), 1u);
    EXPECT_EQ(counts.Get(QStringLiteral("rx.E2")), 1u);
  }
}

}  // namespace
}  // namespace velmora::test
