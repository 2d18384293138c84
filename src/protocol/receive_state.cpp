#include "protocol/receive_state.h"

#include <algorithm>
#include <utility>

#include "protocol/command_frame.h"

namespace velmora {

void ReceiveState::SetWakeHandler(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void ReceiveState::SetSerialInputProbe(std::function<bool()> probe) {
  std::lock_guard lock(mutex_);
  input_probe_ = std::move(probe);
}

ReceiveState::Clock::time_point ReceiveState::LastSerialByte() const {
  std::lock_guard lock(mutex_);
  return serial_last_;
}

void ReceiveState::PutSerialByte(uint8_t byte) {
  std::lock_guard lock(mutex_);
  if (!gate_) return;
  serial_buf_[serial_count_] = byte;
  serial_count_ = (serial_count_ + 1) % kBufferSize;
  const bool woke = serial_idle_ < 0;
  serial_idle_ = 0;
  serial_last_ = Clock::now();
  // Under the lock: the pump's driver may be going away on the other thread.
  if (woke && wake_) wake_();
}

void ReceiveState::PutDatagram(std::span<const uint8_t> datagram, PeerAddress from) {
  if (udp_idle_ >= 0) {
    if (udp_closed_.size() < kMaxClosedDatagrams) {
      const auto held = std::span(udp_buf_).first(udp_count_);
      udp_closed_.push_back(ClosedDatagram{{held.begin(), held.end()}, udp_sender_, NameSender(udp_sender_), 0});
    } else {
      ++udp_dropped_;
    }
  }
  const std::size_t n = std::min(datagram.size(), kMaxDatagram);
  std::copy_n(datagram.begin(), n, udp_buf_.begin());
  udp_count_ = n;
  udp_sender_ = from;
  const bool woke = udp_idle_ < 0;
  udp_idle_ = 0;
  udp_last_ = Clock::now();
  std::lock_guard lock(mutex_);
  if (woke && wake_) wake_();
}

bool ReceiveState::LooksLikeUnfinishedReply() const {
  // A USB-serial adapter hands a reply over in packets with gaps longer than the
  // five-tick close; a burst that has announced its length is held until it is whole.
  const std::size_t n = serial_count_;
  if (n == 0 || serial_buf_[0] != kFrameStart) return false;
  if (n >= 2 && serial_buf_[1] != kDirToTool) return false;
  if (n >= 3 && serial_buf_[2] == 0) return false;
  if (n < 4) return true;
  return n < static_cast<std::size_t>(serial_buf_[3]) + 6;
}

ReceiveState::SerialSnapshot ReceiveState::TickSerial(int close_ticks, int guard_ticks) {
  std::lock_guard lock(mutex_);
  if (serial_idle_ < 0) return {};
  if (real_quiet_ && serial_idle_ >= WholeTicksSince(serial_last_, Clock::now())) return {};
  ++serial_idle_;
  if (serial_idle_ < close_ticks) return {};
  if (serial_idle_ < guard_ticks && (LooksLikeUnfinishedReply() || (input_probe_ && input_probe_()))) return {};
  serial_idle_ = -1;
  gate_ = false;
  return {true, serial_count_};
}

void ReceiveState::ReopenSerial() {
  std::lock_guard lock(mutex_);
  serial_count_ = 0;
  gate_ = true;
}

ReceiveState::UdpSnapshot ReceiveState::TickUdp(int close_ticks) {
  if (udp_idle_ < 0) return {};
  if (real_quiet_ && udp_idle_ >= WholeTicksSince(udp_last_, Clock::now())) return {};
  ++udp_idle_;
  if (udp_idle_ < close_ticks) return {};
  udp_idle_ = -1;
  return UdpSnapshot{true, udp_count_, udp_sender_, NameSender(udp_sender_), std::exchange(udp_dropped_, 0)};
}

bool ReceiveState::NameSender(const PeerAddress& sender) {
  if (!name_udp_senders_) return false;
  const bool changed = !udp_sender_named_ || previous_udp_sender_ != sender;
  previous_udp_sender_ = sender;
  udp_sender_named_ = true;
  return changed;
}

std::optional<ReceiveState::ClosedDatagram> ReceiveState::TakeClosedDatagram() {
  if (udp_closed_.empty()) return std::nullopt;
  ClosedDatagram d = std::move(udp_closed_.front());
  udp_closed_.pop_front();
  d.dropped_before = std::exchange(udp_dropped_, 0);
  return d;
}

void ReceiveState::SetNameUdpSenders(bool on) {
  name_udp_senders_ = on;
  udp_sender_named_ = false;
}

int ReceiveState::WholeTicksSince(Clock::time_point t, Clock::time_point now) {
  return static_cast<int>(std::min<Clock::rep>((now - t) / kTick, 1 << 30));
}

void ReceiveState::CountRealQuietTime(bool on) {
  std::lock_guard lock(mutex_);
  real_quiet_ = on;
}

bool ReceiveState::TickDue() const {
  if (!udp_closed_.empty()) return true;
  const auto now = Clock::now();
  if (udp_idle_ >= 0 && udp_idle_ < WholeTicksSince(udp_last_, now)) return true;
  std::lock_guard lock(mutex_);
  return serial_idle_ >= 0 && serial_idle_ < WholeTicksSince(serial_last_, now);
}

std::optional<ReceiveState::Clock::time_point> ReceiveState::NextDecision(int serial_close_ticks,
                                                                          int udp_close_ticks) const {
  std::optional<Clock::time_point> next;
  if (!udp_closed_.empty()) next = Clock::now();
  auto consider = [&](int idle, Clock::time_point last, int close_ticks) {
    if (idle < 0) return;
    const auto at = last + std::max(idle + 1, close_ticks) * kTick;
    if (!next || at < *next) next = at;
  };
  consider(udp_idle_, udp_last_, udp_close_ticks);
  std::lock_guard lock(mutex_);
  consider(serial_idle_, serial_last_, serial_close_ticks);
  return next;
}

bool ReceiveState::SerialPending() const {
  std::lock_guard lock(mutex_);
  return serial_idle_ >= 0;
}

std::size_t ReceiveState::SerialCount() const {
  std::lock_guard lock(mutex_);
  return serial_count_;
}

bool ReceiveState::GateOpen() const {
  std::lock_guard lock(mutex_);
  return gate_;
}

}  // namespace velmora
