#pragma once
// The device's view of the wire: Command frames F5 80 code N payload sum 0D and the
// firmware frames F5 80 E5 seq nH nL data sum 0D, found in a byte stream (serial) or
// one per datagram (UDP).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "sim_types.h"

namespace velmora::sim {

inline constexpr uint8_t kFirmwareCode = 0xE5;
inline constexpr std::size_t kMaxFirmwareData = 1024;

struct DeviceFrame {
  bool firmware = false;  // the 16-bit-length layout of code 0xE5
  uint8_t code = 0;
  uint8_t sequence = 0;   // firmware frames only
  std::vector<uint8_t> payload;
  std::vector<uint8_t> raw;
};

enum class RejectReason : uint8_t {
  kEndByte,     // no 0D where the length says the frame ends
  kChecksum,
  kLength,      // firmware data length 0 or above 1024, or a datagram of the wrong size
  kIncomplete,  // the line went quiet before the frame was whole
  kNoFrame,     // a datagram that does not start with F5 80
};
const char* RejectName(RejectReason r);

struct Rejected {
  RejectReason reason;
  std::vector<uint8_t> raw;
};

using Parsed = std::variant<DeviceFrame, Rejected>;

// One datagram is one frame; anything else in it makes it malformed.
Parsed ParseDatagram(std::span<const uint8_t> datagram);

// Byte-stream framing for the serial line. A candidate that fails is given up one byte
// at a time, so a real frame that began inside garbage is still found.
class StreamParser {
 public:
  static constexpr Nanos kSilenceLimit = 500 * kMilli;

  struct Event {
    Parsed parsed;
    uint64_t end_position;  // stream position of the last byte the event covers
  };

  // `last_arrival` is when the last of these bytes arrived (or will have arrived over a
  // modelled line); the silence limit counts from it.
  std::vector<Event> Feed(std::span<const uint8_t> bytes, Nanos last_arrival);

  // After kSilenceLimit without a byte, an unfinished frame is given up. Frames found
  // behind it in the bytes already held are returned too.
  std::vector<Event> Expire(Nanos now);
  // When Expire has work to do; empty while nothing is held.
  std::optional<Nanos> Deadline() const;

  uint64_t Position() const { return position_; }  // bytes fed so far
  std::size_t Held() const { return buf_.size(); }
  // Bytes skipped while looking for F5 80 that were never part of a candidate frame.
  uint64_t NoiseBytes() const { return noise_; }

 private:
  void Scan(std::vector<Event>& out, bool give_up_partial);
  void Drop(std::size_t n);

  std::deque<uint8_t> buf_;
  uint64_t position_ = 0;      // stream position just past the last byte fed
  uint64_t covered_until_ = 0;  // stream positions below this were inside a candidate
  uint64_t noise_ = 0;
  Nanos last_arrival_ = 0;
};

}  // namespace velmora::sim
