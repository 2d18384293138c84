#include <gtest/gtest.h>

#include <QEventLoop>
#include <QHostAddress>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

#include "widgets/log_pane.h"
#include "load/load_probe.h"
#include "pages/page_harness.h"

namespace velmora::test {
namespace {

// What a busy segment delivers to port 20, over and over: a reply now and then, device
// text, line noise (any byte, any length the tool takes), empty datagrams and datagrams
// too long for the tool.
std::vector<Bytes> FloodTable() {
  std::mt19937 rng(20240607);
  std::vector<Bytes> table;
  for (int i = 0; i < 320; ++i) {
    switch (i % 5) {
      case 0: table.push_back(Reply(cmd::kReadVersion, {'1', '.', '0', '.', '0'})); break;
      case 1: {
        const char text[] = "AT+CSQ\r\n+CSQ: 23,99\r\nOK\r\n";
        table.emplace_back(text, text + sizeof text - 1);
        break;
      }
      case 2: {
        Bytes noise(std::uniform_int_distribution<std::size_t>(1, ReceiveState::kMaxDatagram)(rng));
        for (auto& b : noise) b = static_cast<uint8_t>(rng());
        table.push_back(std::move(noise));
        break;
      }
      case 3: table.emplace_back(); break;
      default: table.emplace_back(1500, 0x55); break;
    }
  }
  return table;
}

bool Bad(const Bytes& d) { return d.empty() || d.size() > ReceiveState::kMaxDatagram; }

// Sends `count` datagrams of the table to `port` on loopback, spread evenly over `span`,
// from a thread of its own: the user-interface thread only receives.
class FloodSender {
 public:
  FloodSender(const std::vector<Bytes>& table, quint16 port, int count, std::chrono::milliseconds span)
      : thread_([this, &table, port, count, span] { Run(table, port, count, span); }) {}
  ~FloodSender() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_; }
  int Sent() const { return sent_; }
  int SentBad() const { return sent_bad_; }

 private:
  void Run(const std::vector<Bytes>& table, quint16 port, int count, std::chrono::milliseconds span) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      if (i % 500 == 0) std::this_thread::sleep_until(start + span * i / count);
      const Bytes& d = table[static_cast<std::size_t>(i) % table.size()];
      if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0) {
        ++sent_;
        if (Bad(d)) ++sent_bad_;
      }
    }
    ::close(fd);
    done_ = true;
  }

  std::atomic<int> sent_{0};
  std::atomic<int> sent_bad_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(UdpFlood, HundredThousandMixedDatagramsLeaveTheWindowAnsweringWithOneBoxAtATime) {
  PageHarness h;
  h.OpenNetworkOnLoopback();
  // Each box stays up a while, as a person reads it, and meanwhile the program goes on.
  h.modal.while_shown = [] {
    QEventLoop reading;
    QTimer::singleShot(100, &reading, &QEventLoop::quit);
    reading.exec();
  };
  const std::vector<Bytes> table = FloodTable();

  // Every distinct datagram once, slowly, so each is logged and drawn: what the font
  // engine caches for the characters noise decodes to is then in place before measuring.
  QUdpSocket peer;
  NoProxy(peer);
  std::set<Bytes> distinct(table.begin(), table.end());
  for (const Bytes& d : distinct) {
    peer.writeDatagram(reinterpret_cast<const char*>(d.data()), static_cast<qint64>(d.size()),
                       QHostAddress::LocalHost, h.udp_local_port);
    QTest::qWait(25);
  }
  QTest::qWait(150);
  h.window->Log()->ClearAll();
  const int boxes_before = static_cast<int>(h.modal.messages.size());
  const std::size_t heap_before = LiveHeapBytes();
  const std::size_t rss_before = ResidentBytes();

  constexpr int kDatagrams = 100'000;
  UiStallMeter meter;
  meter.Start();
  const auto start = std::chrono::steady_clock::now();
  FloodSender sender(table, h.udp_local_port, kDatagrams, 3s);
  ASSERT_TRUE(WaitUntil([&] { return sender.Done(); }, 60s));
  const auto flood_ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  // What is still queued is taken, the last datagram closes, the last box goes.
  QTest::qWait(300);
  meter.Stop();
  sender.Join();

  const qsizetype log_chars = h.LogText().size();
  const std::size_t heap_with_log = LiveHeapBytes();
  h.window->Log()->ClearAll();
  QTest::qWait(20);
  const std::size_t heap_after = LiveHeapBytes();
  const std::size_t rss_after = ResidentBytes();
  const int boxes = static_cast<int>(h.modal.messages.size()) - boxes_before;

  std::printf("flood: %d datagrams (%d empty or oversized) in %lld ms; longest event-loop gap %lld ms; "
              "%d boxes one after another, %d notices folded into them; Log pane +%lld chars (%+lld B); "
              "live heap %+lld B once the Log pane is cleared; RSS %+lld B\n",
              sender.Sent(), sender.SentBad(), static_cast<long long>(flood_ms.count()),
              static_cast<long long>(meter.LongestGap().count()), boxes, h.udp.DroppedNotices(),
              static_cast<long long>(log_chars), static_cast<long long>(heap_with_log - heap_after),
              static_cast<long long>(heap_after) - static_cast<long long>(heap_before),
              static_cast<long long>(rss_after) - static_cast<long long>(rss_before));

  ASSERT_EQ(sender.Sent(), kDatagrams);
  EXPECT_LT(meter.LongestGap(), 200ms);
  EXPECT_GT(boxes, 0);
  EXPECT_EQ(h.modal.max_open_boxes, 1);
  EXPECT_LE(boxes + h.udp.DroppedNotices(), sender.SentBad());
  // Keeping as little as 16 bytes per datagram would pass 1.5 MB.
  EXPECT_LE(static_cast<long long>(heap_after) - static_cast<long long>(heap_before), 1024 * 1024);
  if (!SanitizerHeap()) {
    // The allocator may keep freed memory mapped; far less than the flood would need.
    EXPECT_LE(static_cast<long long>(rss_after) - static_cast<long long>(rss_before), 16 * 1024 * 1024);
  }

  // Afterwards the link still works.
  h.modal.while_shown = nullptr;
  const Bytes csq = Reply(cmd::kReadCsq, {23});
  h.window->SetStatusText(QStringLiteral("...."));
  peer.writeDatagram(reinterpret_cast<const char*>(csq.data()), static_cast<qint64>(csq.size()),
                     QHostAddress::LocalHost, h.udp_local_port);
  EXPECT_TRUE(h.WaitForStatus(QStringLiteral("Successful!")));
  EXPECT_EQ(h.CountLines(QString::fromUtf8("获取CSQ成功,CSQ:23")), 1);
}

}  // namespace
}  // namespace velmora::test
