#include "protocol/receive_pump.h"

#include <algorithm>

#include "protocol/command_frame.h"

namespace velmora {

std::span<const uint8_t> ReplyFrame::Payload() const {
  if (bytes.size() < 5) return {};
  const std::size_t avail = bytes.size() - 5;  // between the length byte and the end byte
  return bytes.subspan(4, std::min<std::size_t>(DeclaredLength(), avail));
}

std::span<const uint8_t> ReplyFrame::Text() const {
  if (bytes.size() < 5) return {};
  return bytes.subspan(4, bytes.size() - 5);
}

bool IsReplyFrame(std::span<const uint8_t> b) {
  // Three bytes is the shortest burst that can pass: F5 00 0D reads as code 0x0D.
  return b.size() >= 3 && b[0] == kFrameStart && b[1] == kDirToTool && b.back() == kFrameEnd && b[2] != 0;
}

ReplyKind KindOfReply(uint8_t code) {
  if (code == cmd::kFirmware) return ReplyKind::Firmware;
  if (code == cmd::kWriteMqtt || code == cmd::kReadMqtt) return ReplyKind::Mqtt;
  return ReplyKind::Config;
}

int ReceivePump::Subscribe(ReplyKind kind, std::optional<Link> link, ReplyHandler handler) {
  subscribers_.push_back(Subscriber{next_id_, kind, link, std::move(handler), {}});
  return next_id_++;
}

int ReceivePump::WatchBursts(BurstHandler handler) {
  subscribers_.push_back(Subscriber{next_id_, std::nullopt, std::nullopt, {}, std::move(handler)});
  return next_id_++;
}

void ReceivePump::Unsubscribe(int id) {
  std::erase_if(subscribers_, [id](const Subscriber& s) { return s.id == id; });
}

void ReceivePump::Tick() {
  const auto serial = state_.TickSerial(kSerialCloseTicks, kSerialGuardTicks);
  if (serial.close) {
    const auto bytes = state_.SerialBuffer().first(serial.length);
    Deliver(ClosedBurst{Link::Serial, bytes, {}, false, IsReplyFrame(bytes)});
    state_.ReopenSerial();
  }
  // Datagrams that a later one closed come first: they arrived first.
  while (auto d = state_.TakeClosedDatagram()) {
    Deliver(ClosedBurst{Link::Udp, d->bytes, d->sender, d->new_sender, IsReplyFrame(d->bytes), d->dropped_before});
  }
  const auto udp = state_.TickUdp(kUdpCloseTicks);
  if (udp.close) {
    const auto bytes = state_.UdpBuffer().first(udp.length);
    Deliver(ClosedBurst{Link::Udp, bytes, udp.sender, udp.new_sender, IsReplyFrame(bytes), udp.dropped_before});
    state_.ResetUdp();
  }
}

void ReceivePump::Deliver(const ClosedBurst& burst) {
  // A handler may subscribe or unsubscribe while it runs: the ones called are those
  // subscribed when the burst closed.
  std::vector<Subscriber> now;
  const std::optional<ReplyKind> kind =
      burst.is_reply ? std::optional(KindOfReply(burst.bytes[2])) : std::nullopt;
  for (const Subscriber& s : subscribers_) {
    if (!s.kind || (kind && s.kind == kind && (!s.link || s.link == burst.link))) now.push_back(s);
  }
  for (const Subscriber& s : now) {
    if (s.burst) s.burst(burst);
  }
  if (!kind) return;
  const ReplyFrame frame{burst.link, burst.bytes, burst.sender};
  for (const Subscriber& s : now) {
    if (s.reply) s.reply(frame);
  }
}

}  // namespace velmora
