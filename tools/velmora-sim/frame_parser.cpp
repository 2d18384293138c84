#include "frame_parser.h"

#include <algorithm>

namespace velmora::sim {

namespace {

constexpr uint8_t kStart = 0xF5;
constexpr uint8_t kToDevice = 0x80;
constexpr uint8_t kEnd = 0x0D;

uint8_t Sum8(const std::vector<uint8_t>& b, std::size_t n) {
  uint8_t s = 0;
  for (std::size_t i = 0; i < n; ++i) s = static_cast<uint8_t>(s + b[i]);
  return s;
}

// The whole frame size once its header is known; 0 while more header bytes are needed;
// nullopt for a firmware length no frame may carry.
template <typename Bytes>
std::optional<std::size_t> TotalSize(const Bytes& b) {
  if (b.size() < 3) return 0;
  if (b[2] == kFirmwareCode) {
    if (b.size() < 6) return 0;
    const std::size_t n = (std::size_t{b[4]} << 8) | b[5];
    if (n == 0 || n > kMaxFirmwareData) return std::nullopt;
    return n + 8;
  }
  if (b.size() < 4) return 0;
  return std::size_t{b[3]} + 6;
}

// `raw` holds exactly one candidate frame.
Parsed Judge(std::vector<uint8_t> raw) {
  if (raw.back() != kEnd) return Rejected{RejectReason::kEndByte, std::move(raw)};
  if (Sum8(raw, raw.size() - 2) != raw[raw.size() - 2]) return Rejected{RejectReason::kChecksum, std::move(raw)};
  DeviceFrame f;
  f.code = raw[2];
  if (f.code == kFirmwareCode) {
    f.firmware = true;
    f.sequence = raw[3];
    f.payload.assign(raw.begin() + 6, raw.end() - 2);
  } else {
    f.payload.assign(raw.begin() + 4, raw.end() - 2);
  }
  f.raw = std::move(raw);
  return f;
}

}  // namespace

const char* RejectName(RejectReason r) {
  switch (r) {
    case RejectReason::kEndByte: return "end byte";
    case RejectReason::kChecksum: return "checksum";
    case RejectReason::kLength: return "length";
    case RejectReason::kIncomplete: return "incomplete";
    case RejectReason::kNoFrame: return "not a frame";
  }
  return "?";
}

Parsed ParseDatagram(std::span<const uint8_t> d) {
  std::vector<uint8_t> raw(d.begin(), d.end());
  if (raw.size() < 2 || raw[0] != kStart || raw[1] != kToDevice) return Rejected{RejectReason::kNoFrame, std::move(raw)};
  const auto total = TotalSize(raw);
  if (!total || *total == 0 || *total != raw.size()) return Rejected{RejectReason::kLength, std::move(raw)};
  return Judge(std::move(raw));
}

std::vector<StreamParser::Event> StreamParser::Feed(std::span<const uint8_t> bytes, Nanos last_arrival) {
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
  position_ += bytes.size();
  if (!bytes.empty()) last_arrival_ = last_arrival;
  std::vector<Event> out;
  Scan(out, false);
  return out;
}

std::optional<Nanos> StreamParser::Deadline() const {
  if (buf_.empty()) return std::nullopt;
  return last_arrival_ + kSilenceLimit;
}

std::vector<StreamParser::Event> StreamParser::Expire(Nanos now) {
  std::vector<Event> out;
  const auto deadline = Deadline();
  if (deadline && now >= *deadline) Scan(out, true);
  return out;
}

void StreamParser::Drop(std::size_t n) {
  const uint64_t first = position_ - buf_.size();
  for (uint64_t p = first; p < first + n; ++p)
    if (p >= covered_until_) ++noise_;
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
}

void StreamParser::Scan(std::vector<Event>& out, bool give_up_partial) {
  for (;;) {
    while (!buf_.empty() && !(buf_[0] == kStart && (buf_.size() < 2 || buf_[1] == kToDevice))) Drop(1);
    if (buf_.size() < 2) {
      // A lone F5 may still become a frame; once the line is quiet it is only noise.
      if (give_up_partial && !buf_.empty()) Drop(1);
      return;
    }
    const uint64_t start = position_ - buf_.size();
    const auto total = TotalSize(buf_);
    if (!total) {
      covered_until_ = std::max(covered_until_, start + 6);
      out.push_back({Rejected{RejectReason::kLength, std::vector<uint8_t>(buf_.begin(), buf_.begin() + 6)}, start + 5});
      Drop(1);
      continue;
    }
    const std::size_t have = *total == 0 ? buf_.size() : std::min(*total, buf_.size());
    covered_until_ = std::max(covered_until_, start + have);
    if (*total == 0 || buf_.size() < *total) {
      if (!give_up_partial) return;
      out.push_back({Rejected{RejectReason::kIncomplete, std::vector<uint8_t>(buf_.begin(), buf_.begin() + have)},
                     start + have - 1});
      Drop(1);
      continue;
    }
    std::vector<uint8_t> raw(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(*total));
    Parsed p = Judge(std::move(raw));
    if (std::holds_alternative<DeviceFrame>(p)) {
      Drop(*total);
    } else {
      Drop(1);
    }
    out.push_back({std::move(p), start + *total - 1});
  }
}

}  // namespace velmora::sim
