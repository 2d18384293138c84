#pragma once
// A device that takes a firmware image frame by frame and checks everything it is sent:
// lead bytes, sequence, length field, checksum, the data against the image, and at the
// end the total length and the data sum. It answers "OK", then "YES" or "XERR".

#include <cstdint>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "protocol/command_frame.h"

namespace velmora::test {

using Bytes = std::vector<uint8_t>;

inline Bytes FirmwareReply(const std::string& text) {
  Bytes b{kFrameStart, kDirToTool, cmd::kFirmware, static_cast<uint8_t>(text.size())};
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(Checksum8(b));
  b.push_back(kFrameEnd);
  return b;
}

inline Bytes FirmwareImage(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + (i >> 9) + 5);
  return b;
}

class FirmwareDevice {
 public:
  explicit FirmwareDevice(Bytes image) : image_(std::move(image)) {}

  // Bytes of a frame in progress: the full size once the header is in, else 0.
  static std::size_t FrameSize(std::span<const uint8_t> head) {
    return head.size() < 6 ? 0 : ((std::size_t{head[4]} << 8) | head[5]) + 8;
  }

  // The answer to one complete frame.
  std::string Judge(std::span<const uint8_t> f) {
    ++frames;
    if (f.size() < 8 || f[0] != 0xF5 || f[1] != 0x80 || f[2] != 0xE5) return Fault("lead bytes");
    if (f.back() != 0x0D) return Fault("end byte");
    if (f[f.size() - 2] != Checksum8(f.first(f.size() - 2))) return Fault("checksum");
    const std::size_t n = FrameSize(f);
    if (n != f.size()) return Fault("length field");
    if (received_ == image_.size()) {
      // After the whole image only the end frame may come.
      if (f.size() != 16 || f[3] != 0xFF) return Fault("end frame layout");
      const uint32_t length = Be32(f.subspan(6, 4));
      const uint32_t sum = Be32(f.subspan(10, 4));
      const uint32_t image_sum = std::accumulate(image_.begin(), image_.end(), 0u);
      if (length != image_.size()) return Fault("end frame length");
      if (sum != image_sum || sum != sum_) return Fault("end frame sum");
      ++end_frames;
      return "YES";
    }
    const std::size_t data = f.size() - 8;
    if (f[3] != sequence_) return Fault("sequence");
    if (data > 1024 || (data < 1024 && received_ + data != image_.size())) return Fault("chunk size");
    if (received_ + data > image_.size() ||
        !std::equal(f.begin() + 6, f.end() - 2, image_.begin() + static_cast<std::ptrdiff_t>(received_))) {
      return Fault("data");
    }
    for (std::size_t i = 6; i < f.size() - 2; ++i) sum_ += f[i];
    received_ += data;
    ++sequence_;
    ++data_frames;
    return "OK";
  }

  int frames = 0;
  int data_frames = 0;
  int end_frames = 0;
  std::vector<std::string> faults;

 private:
  static uint32_t Be32(std::span<const uint8_t> b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  }
  std::string Fault(const std::string& what) {
    faults.push_back(what + " in frame " + std::to_string(frames));
    return "XERR";
  }

  Bytes image_;
  std::size_t received_ = 0;
  uint8_t sequence_ = 0;
  uint32_t sum_ = 0;
};

}  // namespace velmora::test
