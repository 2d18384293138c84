// Whatever arrives on either link, in whatever rhythm: the pump hands on only Reply
// frames, to the right page, never reads outside a burst, and always returns to idle.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "log/traffic_log.h"
#include "protocol/receive_pump.h"

#include "fuzz_check.h"

using namespace velmora;


namespace {

struct CountingLog : LogSink {
  void AppendLog(const QString& text) override { chars += static_cast<std::size_t>(text.size()); }
  std::size_t chars = 0;
};

struct Page {
  enum Role { kSerial, kNetwork, kMqtt } role;
  explicit Page(Role r) : role(r) {}
  void HandleReply(const ReplyFrame& f) {
    CHECK(IsReplyFrame(f.bytes));
    CHECK(f.bytes.size() <= ReceiveState::kBufferSize);
    const bool mqtt = f.Code() == 0xE6 || f.Code() == 0xE7;
    if (role == kMqtt) CHECK(mqtt);
    if (role == kSerial) CHECK(!mqtt && f.link == Link::Serial);
    if (role == kNetwork) CHECK(!mqtt && f.link == Link::Udp);
    // Read every byte a handler may read; the sanitizer catches anything outside.
    unsigned sum = 0;
    for (uint8_t b : f.Payload()) sum += b;
    for (uint8_t b : f.Text()) sum += b;
    CHECK(f.Payload().size() <= f.DeclaredLength());
    CHECK(f.Text().size() + 5 <= f.bytes.size() || f.Text().empty());
    sink += sum;
  }
  unsigned sink = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ReceiveState rx;
  CountingLog log;
  ReceivePump pump(rx);
  TrafficLog traffic(log);
  traffic.Watch(pump);
  Page serial(Page::kSerial), network(Page::kNetwork), mqtt(Page::kMqtt);
  for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Firmware}) {
    pump.Subscribe(kind, Link::Serial, [&serial](const ReplyFrame& f) { serial.HandleReply(f); });
    pump.Subscribe(kind, Link::Udp, [&network](const ReplyFrame& f) { network.HandleReply(f); });
  }
  pump.Subscribe(ReplyKind::Mqtt, std::nullopt, [&mqtt](const ReplyFrame& f) { mqtt.HandleReply(f); });

  std::size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next();
    switch (op % 7) {
      case 0: {  // serial bytes
        const std::size_t n = next();
        for (std::size_t k = 0; k < n && i < size; ++k) rx.PutSerialByte(next());
        break;
      }
      case 1: {  // one datagram, possibly larger than the buffer keeps
        std::size_t n = next();
        n = n * 5 + next() % 5;
        const std::size_t take = std::min(n, size - i);
        rx.PutDatagram(std::span(data + i, take));
        i += take;
        break;
      }
      case 2:  // a few ticks
        for (int k = next() % 8; k >= 0; --k) pump.Tick();
        break;
      case 3:  // a long quiet period
        for (int k = 0; k < 120; ++k) pump.Tick();
        break;
      case 4: {  // a long serial run of one byte value, past the ring's size
        const uint8_t b = next();
        for (int k = 0; k < 1100; ++k) rx.PutSerialByte(b);
        break;
      }
      case 5:
      case 6: {  // a whole Reply frame, whose length byte may lie, on either link
        std::vector<uint8_t> f{0xF5, 0x00, next(), next()};
        for (int k = next() % 24; k > 0; --k) f.push_back(next());
        f.push_back(0x0D);
        if (op % 7 == 5) {
          for (uint8_t b : f) rx.PutSerialByte(b);
        } else {
          rx.PutDatagram(f);
        }
        for (int k = 0; k < ReceivePump::kSerialCloseTicks; ++k) pump.Tick();
        break;
      }
    }
    CHECK(rx.SerialCount() < ReceiveState::kBufferSize);
    CHECK(rx.UdpCount() <= ReceiveState::kMaxDatagram);
  }
  for (int k = 0; k < ReceivePump::kSerialGuardTicks + 5; ++k) pump.Tick();
  CHECK(!pump.Pending());
  CHECK(rx.GateOpen());
  CHECK(rx.SerialCount() == 0 && rx.UdpCount() == 0);
  return 0;
}
