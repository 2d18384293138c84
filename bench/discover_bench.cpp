// `velmora-cli --udp 192.0.2.255 discover --json --wait 1000` on the tests' LAN of network
// namespaces with 128 simulated devices, one on each device host, five runs: devices found
// per run (all 128, none twice, each with its version and configuration, or the run says
// what is missing), the run's wall time, answers host 0 dropped for a full receive buffer,
// and from a capture on host 0's interface the time from the first query to the first and
// to the last answer. It needs root; elsewhere it says why and measures nothing.
//
//   cmake --preset release && cmake --build --preset release --target discover_bench
//   sudo ./build/release/bench/discover_bench

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/if_packet.h>
#include <map>
#include <memory>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "support/sim_process.h"
#include "support/test_lan.h"

namespace {

using velmora::test::SimProcess;
using velmora::test::TestLan;

constexpr int kDevices = 128;

// Every UDP datagram on host 0's eth0, both ways, with the kernel's time stamps: the
// query leaving and each answer arriving, measured where the tool cannot blur them.
class Capture {
 public:
  struct Seen {
    double first_query_ns = -1, first_answer_ns = -1, last_answer_ns = -1;
    int answers = 0;
  };

  // Made on host 0 (the calling thread must be there).
  bool Open() {
    // Every protocol: a socket bound to IP alone is not shown what leaves.
    fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd_ < 0) return false;
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = static_cast<int>(::if_nametoindex("eth0"));
    const int on = 1, buffer = 8 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    return at.sll_ifindex > 0 && ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 &&
           ::bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
  }
  ~Capture() {
    Stop();
    if (fd_ >= 0) ::close(fd_);
  }

  void Start() {
    seen_ = {};
    Drain(0);  // what an earlier run left
    seen_ = {};
    stop_ = false;
    reader_ = std::thread([this] {
      while (!stop_) Drain(20);
    });
  }
  Seen Stop() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    Drain(0);
    return seen_;
  }

 private:
  void Drain(int wait_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) return;
    for (;;) {
      uint8_t packet[2048];
      char control[256];
      sockaddr_ll from{};
      iovec io{packet, sizeof packet};
      msghdr m{};
      m.msg_name = &from;
      m.msg_namelen = sizeof from;
      m.msg_iov = &io;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(fd_, &m, MSG_DONTWAIT);
      if (n <= 0) return;
      double at_ns = -1;
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
          timespec ts{};
          std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
          at_ns = static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
        }
      }
      if (at_ns < 0 || from.sll_protocol != htons(ETH_P_IP) || n < static_cast<ssize_t>(sizeof(iphdr))) continue;
      const auto* ip = reinterpret_cast<const iphdr*>(packet);
      const std::size_t ihl = ip->ihl * 4u;
      if (ip->protocol != IPPROTO_UDP || n < static_cast<ssize_t>(ihl + sizeof(udphdr))) continue;
      const auto* udp = reinterpret_cast<const udphdr*>(packet + ihl);
      if (from.sll_pkttype == PACKET_OUTGOING && ntohs(udp->dest) == 21) {
        if (seen_.first_query_ns < 0) seen_.first_query_ns = at_ns;
      } else if (from.sll_pkttype != PACKET_OUTGOING && ntohs(udp->source) == 21) {
        ++seen_.answers;
        if (seen_.first_answer_ns < 0) seen_.first_answer_ns = at_ns;
        seen_.last_answer_ns = std::max(seen_.last_answer_ns, at_ns);
      }
    }
  }

  int fd_ = -1;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  Seen seen_;
};

// Host 0's count of datagrams dropped because a socket's receive buffer was full.
long long ReceiveBufferDrops(const TestLan& lan) {
  const QStringList argv = lan.Wrap(0, {QStringLiteral("cat"), QStringLiteral("/proc/net/snmp")});
  QProcess cat;
  cat.start(argv.first(), argv.mid(1));
  if (!cat.waitForFinished(10000)) return -1;
  QStringList names;
  for (const QByteArray& line : cat.readAllStandardOutput().split('\n')) {
    if (!line.startsWith("Udp: ")) continue;
    const QStringList cells = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
      names = cells;
      continue;
    }
    const qsizetype at = names.indexOf(QStringLiteral("RcvbufErrors"));
    return at > 0 && at < cells.size() ? cells[at].toLongLong() : -1;
  }
  return -1;
}

void BM_Discover128(benchmark::State& state) {
  TestLan lan;
  QString why;
  if (!lan.Up(kDevices, &why)) {
    std::printf("discover on the test LAN: not measured: %s\n", why.toLocal8Bit().constData());
    state.SkipWithError("the test LAN cannot be made here");
    return;
  }
  QElapsedTimer t;
  t.start();
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int h = 1; h <= kDevices; ++h) {
    auto sim = std::make_unique<SimProcess>();
    sim->SetLauncher(lan.Wrap(h, {}));
    const QString mac = QStringLiteral("02:00:5E:00:%1:%2").arg(h >> 8, 2, 16, QLatin1Char('0')).arg(h & 0xFF, 2, 16, QLatin1Char('0'));
    if (!sim->Start({QStringLiteral("--no-serial"), QStringLiteral("--udp-address"), QStringLiteral("0.0.0.0"), QStringLiteral("--udp-port"),
                     QStringLiteral("21"), QStringLiteral("--mac"), mac, QStringLiteral("--local-ip"), lan.Address(h).toString()})) {
      std::printf("simulator on host %d did not start: %s\n", h, sim->StartError().toLocal8Bit().constData());
      state.SkipWithError("a simulator did not start");
      return;
    }
    sims.push_back(std::move(sim));
  }
  std::printf("%d simulators started in %lld ms\n", kDevices, static_cast<long long>(t.elapsed()));

  Capture capture;
  {
    TestLan::EnterHost on_tool(lan, 0);
    if (!on_tool.Ok() || !capture.Open()) {
      std::printf("no capture on host 0: answer times are not measured\n");
    }
  }

  std::vector<double> wall_ms, first_ms, last_ms;
  bool every_run_complete = true;
  int run = 0;
  for (auto _ : state) {
    ++run;
    const QStringList argv = lan.Wrap(0, {QStringLiteral(VELMORA_CLI_PATH), QStringLiteral("--udp"), TestLan::Broadcast().toString(),
                                          QStringLiteral("discover"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("1000")});
    QProcess cli;
    cli.setProgram(argv.first());
    cli.setArguments(argv.mid(1));
    const long long drops_before = ReceiveBufferDrops(lan);
    capture.Start();
    QElapsedTimer wall;
    wall.start();
    cli.start();
    const bool ended = cli.waitForFinished(60000);
    const double ms = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    const Capture::Seen seen = capture.Stop();
    const long long drops = ReceiveBufferDrops(lan) - drops_before;

    std::map<QString, int> times;  // address -> lines naming it
    QStringList order;
    int partial = 0;
    for (const QByteArray& line : cli.readAllStandardOutput().split('\n')) {
      if (line.trimmed().isEmpty()) continue;
      const QJsonObject device = QJsonDocument::fromJson(line).object();
      const QString address = device.value(QStringLiteral("address")).toString();
      // Both answers heard: its version and its configuration.
      partial += device.value(QStringLiteral("version")).isNull() || device.value(QStringLiteral("local_ip")).isNull();
      ++times[address];
      order << address;
    }
    int twice = 0, missing = 0;
    for (const auto& [address, n] : times) twice += n > 1;
    for (int h = 1; h <= kDevices; ++h) missing += times.count(lan.Address(h).toString()) == 0;
    const bool sorted = std::is_sorted(order.begin(), order.end(), [](const QString& a, const QString& b) {
      return QHostAddress(a).toIPv4Address() < QHostAddress(b).toIPv4Address();
    });
    const bool complete = ended && cli.exitCode() == 0 && order.size() == kDevices && missing == 0 && twice == 0 && partial == 0;
    every_run_complete = every_run_complete && complete;
    wall_ms.push_back(ms);
    std::printf("run %d: %lld device lines, %zu distinct, %d missing, %d twice, %d without both answers, %s, status %d; wall %.0f ms",
                run, static_cast<long long>(order.size()), times.size(), missing, twice, partial,
                sorted ? "sorted by address" : "NOT SORTED", ended ? cli.exitCode() : -1, ms);
    if (seen.first_query_ns >= 0 && seen.last_answer_ns >= 0) {
      first_ms.push_back((seen.first_answer_ns - seen.first_query_ns) / 1e6);
      last_ms.push_back((seen.last_answer_ns - seen.first_query_ns) / 1e6);
      std::printf("; %d answers reached host 0, first %.2f ms, last %.2f ms after the first query", seen.answers,
                  first_ms.back(), last_ms.back());
    }
    std::printf("; %lld answers dropped on host 0 for a full receive buffer\n", drops);
    if (!complete) std::printf("  stderr: %s\n", cli.readAllStandardError().constData());
    std::fflush(stdout);
  }
  velmora::bench::PrintSpread("discover, 128 devices, wall time", wall_ms, 0, "ms", "(the search listens 1000 ms)");
  if (!first_ms.empty()) {
    velmora::bench::PrintSpread("discover, 128 devices, first answer after the query", first_ms, 2, "ms", "");
    velmora::bench::PrintSpread("discover, 128 devices, last answer after the query", last_ms, 2, "ms", "");
  }
  std::printf("every run found all %d devices, none twice, each with both answers: %s\n", kDevices, every_run_complete ? "yes" : "NO");
  if (!every_run_complete) state.SkipWithError("a run did not find every device exactly once");
}
BENCHMARK(BM_Discover128)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return velmora::bench::RunQtBenchmarks(argc, argv); }
