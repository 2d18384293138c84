#pragma once
// Closes received bursts into Reply frames or text, and hands each Reply frame to whoever
// subscribed to its kind of reply on its link.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/peer_address.h"
#include "protocol/receive_state.h"

namespace velmora {

// One closed burst that passed the Reply frame test: F5 00 code ... 0D.
// The bytes stay valid only while the handler runs; copy what you keep.
struct ReplyFrame {
  Link link = Link::Serial;
  std::span<const uint8_t> bytes;
  PeerAddress sender;  // the datagram's sender; empty for the serial link

  uint8_t Code() const { return bytes[2]; }
  // The length byte N, or 0 when the frame is too short to carry one.
  uint8_t DeclaredLength() const { return bytes.size() > 3 ? bytes[3] : 0; }
  // Up to N bytes from offset 4, never past the end byte: nothing outside the frame.
  std::span<const uint8_t> Payload() const;
  // Everything from offset 4 up to (not including) the end byte.
  std::span<const uint8_t> Text() const;
};

// True when the bytes have the Reply frame envelope the pump accepts.
bool IsReplyFrame(std::span<const uint8_t> burst);

// Who a reply is for: the firmware transfer (0xE5), the MQTT credentials (0xE6, 0xE7), or
// the configuration commands (every other code, unknown ones included).
enum class ReplyKind : uint8_t { Config, Firmware, Mqtt };
ReplyKind KindOfReply(uint8_t code);

// Every burst the pump closes, a Reply frame or not, as the Log shows it.
struct ClosedBurst {
  Link link = Link::Serial;
  std::span<const uint8_t> bytes;
  PeerAddress sender;
  bool new_sender = false;  // the link names its senders and this one differs from the last
  bool is_reply = false;
  std::size_t dropped_before = 0;  // datagrams that came too fast to be kept, before this one
};

class ReceivePump {
 public:
  static constexpr int kSerialCloseTicks = 5;
  static constexpr int kUdpCloseTicks = 3;
  // Quiet ticks after which an unfinished Reply frame is closed anyway (~100 ms).
  static constexpr int kSerialGuardTicks = 100;

  using ReplyHandler = std::function<void(const ReplyFrame&)>;
  using BurstHandler = std::function<void(const ClosedBurst&)>;

  explicit ReceivePump(ReceiveState& state) : state_(state) {}

  // Replies of `kind` that came over `link` (either link when none is given) go to
  // `handler`, after the burst watchers have seen them. Handlers run in the order they
  // subscribed; a reply nobody subscribed to is dropped. Returns the id Unsubscribe takes.
  int Subscribe(ReplyKind kind, std::optional<Link> link, ReplyHandler handler);
  // Every closed burst goes to `handler` before any reply handler runs.
  int WatchBursts(BurstHandler handler);
  void Unsubscribe(int id);

  // One timer tick: the serial side, then the UDP side.
  void Tick();

  // False when both sides are quiet: a tick would do nothing.
  bool Pending() const { return state_.SerialPending() || state_.UdpPending(); }

 private:
  void Deliver(const ClosedBurst& burst);

  struct Subscriber {
    int id = 0;
    std::optional<ReplyKind> kind;  // none: a burst watcher
    std::optional<Link> link;
    ReplyHandler reply;
    BurstHandler burst;
  };

  ReceiveState& state_;
  std::vector<Subscriber> subscribers_;
  int next_id_ = 1;
};

}  // namespace velmora
