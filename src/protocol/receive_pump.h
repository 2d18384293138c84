#pragma once
// Closes received bursts into Reply frames or text, logs them and routes the frames.

#include <QString>

#include <cstdint>
#include <span>

#include "protocol/log_sink.h"
#include "protocol/receive_state.h"

namespace velmora {

// One closed burst that passed the Reply frame test: F5 00 code ... 0D.
// The bytes stay valid only while the handler runs; copy what you keep.
struct ReplyFrame {
  Link link = Link::Serial;
  std::span<const uint8_t> bytes;

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

class ReplyHandler {
 public:
  virtual ~ReplyHandler() = default;
  virtual void HandleReply(const ReplyFrame& frame) = 0;
};

class ReceivePump {
 public:
  static constexpr int kSerialCloseTicks = 5;
  static constexpr int kUdpCloseTicks = 3;
  // Quiet ticks after which an unfinished Reply frame is closed anyway (~100 ms).
  static constexpr int kSerialGuardTicks = 100;

  ReceivePump(ReceiveState& state, LogSink& log) : state_(state), log_(log) {}

  // Frames with codes 0xE6/0xE7 go to the MQTT handler, all others to the page of the
  // link that carried them. A null handler drops the frame after logging it.
  void SetSerialPageHandler(ReplyHandler* h) { serial_page_ = h; }
  void SetNetworkPageHandler(ReplyHandler* h) { network_page_ = h; }
  void SetMqttPageHandler(ReplyHandler* h) { mqtt_page_ = h; }

  // One timer tick: the serial side, then the UDP side.
  void Tick();

  // False when both sides are quiet: a tick would do nothing.
  bool Pending() const { return state_.SerialPending() || state_.UdpPending(); }

 private:
  void Deliver(Link link, std::span<const uint8_t> burst);

  ReceiveState& state_;
  LogSink& log_;
  ReplyHandler* serial_page_ = nullptr;
  ReplyHandler* network_page_ = nullptr;
  ReplyHandler* mqtt_page_ = nullptr;
};

}  // namespace velmora
