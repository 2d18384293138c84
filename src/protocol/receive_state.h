#pragma once
// The two receive buffers shared by the transports, the Receive pump and the reply handlers.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "core/link.h"
#include "core/peer_address.h"

namespace velmora {

class ReceiveState {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kBufferSize = 1024;
  static constexpr std::size_t kMaxDatagram = 1023;
  // The nominal tick the closing rule counts in.
  static constexpr std::chrono::milliseconds kTick{1};

  // Serial reader thread. While the gate is closed the byte is dropped; otherwise it
  // goes into the ring at the count and the burst's quiet time starts again.
  void PutSerialByte(uint8_t byte);

  // User-interface thread. At most 1023 bytes of a datagram are kept. A datagram still
  // pending when the next arrives is closed then, whole (datagrams are never joined),
  // and waits its turn among the closed ones: each is handled, in order of arrival.
  void PutDatagram(std::span<const uint8_t> datagram, PeerAddress from = {});

  // User-interface thread. While on, a closed datagram whose sender differs from the
  // sender of the one closed before says so (several devices may answer one broadcast).
  // Switching it (on or off) forgets the previous sender.
  void SetNameUdpSenders(bool on);

  // Called, from whichever thread stored the data, when a quiet side receives its
  // first byte or datagram, so the pump can start ticking. It runs under the state's
  // lock, so it must only post, never wait; once SetWakeHandler returns, the previous
  // handler is neither running nor called again.
  void SetWakeHandler(std::function<void()> wake);

  // Set by the serial port: true while bytes have reached the computer that the reader
  // has not stored yet (a reader kept off the processor is not a quiet line). A burst is
  // not closed while they wait, for at most as long as an unfinished Reply frame is held.
  // Called on the user-interface thread under the state's lock: it must not wait for the
  // reader.
  void SetSerialInputProbe(std::function<bool()> probe);

  // --- Receive pump side (user-interface thread) ---

  struct SerialSnapshot {
    bool close = false;       // the burst is complete: the gate is now closed
    std::size_t length = 0;   // bytes 0..length-1 of SerialBuffer() hold the burst
  };
  // Advances the serial idle counter by one tick and decides whether the burst closes.
  // `close_ticks` applies to a burst that is not an unfinished Reply frame,
  // `guard_ticks` to one that is.
  SerialSnapshot TickSerial(int close_ticks, int guard_ticks);
  // After the burst is handled: count back to 0, gate open.
  void ReopenSerial();

  // While on, a tick counts only quiet time that has really passed: it never takes an
  // idle counter past the whole ticks since the side's last byte or datagram. A driver
  // that wakes once at a burst's closing moment can then run the ticks due in one go
  // without closing anything early. Off, every tick counts (tests drive the pump so).
  void CountRealQuietTime(bool on);
  // True while a tick would advance a pending side (with real quiet time counted).
  bool TickDue() const;
  // The moment the next tick can decide anything on a pending side: the closing tick
  // after its last byte or datagram, or while a burst is held past it, the next tick.
  // Nothing when both sides are quiet.
  std::optional<Clock::time_point> NextDecision(int serial_close_ticks, int udp_close_ticks) const;
  // When the last serial byte was stored.
  Clock::time_point LastSerialByte() const;

  struct UdpSnapshot {
    bool close = false;
    std::size_t length = 0;
    PeerAddress sender;
    bool new_sender = false;  // naming is on and the sender is not the previous one's
    std::size_t dropped_before = 0;  // datagrams dropped since the last one handled
  };
  UdpSnapshot TickUdp(int close_ticks);
  void ResetUdp() { udp_count_ = 0; }

  // Datagrams closed by a later arrival, oldest first; taken before the pending one is
  // ticked. More than kMaxClosedDatagrams waiting means they arrive faster than they are
  // handled: the newest are then dropped and counted, and the count goes with the next
  // one taken.
  static constexpr std::size_t kMaxClosedDatagrams = 4096;
  struct ClosedDatagram {
    std::vector<uint8_t> bytes;
    PeerAddress sender;
    bool new_sender = false;
    std::size_t dropped_before = 0;
  };
  std::optional<ClosedDatagram> TakeClosedDatagram();

  // Only valid to read while the serial gate is closed (between TickSerial closing a
  // burst and ReopenSerial), or from the user-interface thread for the UDP buffer.
  std::span<const uint8_t> SerialBuffer() const { return serial_buf_; }
  std::span<const uint8_t> UdpBuffer() const { return udp_buf_; }

  bool SerialPending() const;
  bool UdpPending() const { return udp_idle_ >= 0 || !udp_closed_.empty(); }

  // For tests and diagnostics.
  std::size_t SerialCount() const;
  std::size_t UdpCount() const { return udp_count_; }
  bool GateOpen() const;

 private:
  bool LooksLikeUnfinishedReply() const;  // caller holds mutex_
  static int WholeTicksSince(Clock::time_point t, Clock::time_point now);
  // Whether `sender` is to be named: naming is on and it differs from the last one named.
  bool NameSender(const PeerAddress& sender);

  mutable std::mutex mutex_;  // guards the serial fields below against the reader thread
  std::array<uint8_t, kBufferSize> serial_buf_{};
  std::size_t serial_count_ = 0;
  bool gate_ = true;
  int serial_idle_ = -1;
  Clock::time_point serial_last_{};
  bool real_quiet_ = false;

  std::array<uint8_t, kBufferSize> udp_buf_{};
  std::size_t udp_count_ = 0;
  int udp_idle_ = -1;
  Clock::time_point udp_last_{};
  PeerAddress udp_sender_;
  bool name_udp_senders_ = false;
  bool udp_sender_named_ = false;  // previous_udp_sender_ holds a sender
  PeerAddress previous_udp_sender_;
  std::deque<ClosedDatagram> udp_closed_;
  std::size_t udp_dropped_ = 0;

  std::function<void()> wake_;
  std::function<bool()> input_probe_;
};

}  // namespace velmora
