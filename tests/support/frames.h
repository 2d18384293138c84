#pragma once
// Bytes as they travel and as they are kept: frames in both directions, firmware images
// and the files that hold them. Frames come from the tool's own builders, which the
// protocol tests pin to hand-laid bytes; a lying length byte is the one thing built here.

#include <QFile>
#include <QString>

#include <cstdint>
#include <numeric>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/command_frame.h"

namespace velmora::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A Command frame as the tool sends it: F5 80 code N payload sum 0D.
inline Bytes Command(uint8_t code, const Bytes& payload = {}) { return BuildCommandFrame(code, payload).value(); }

// A Reply frame as a device sends it: F5 00 code N payload sum 0D. `declared` makes the
// length byte lie about the payload; the checksum still covers what is sent.
inline Bytes Reply(uint8_t code, const Bytes& payload = {}, int declared = -1) {
  Bytes f = BuildReplyFrame(code, payload).value();
  if (declared >= 0) {
    f[3] = static_cast<uint8_t>(declared);
    f[f.size() - 2] = Checksum8(std::span(f).first(f.size() - 2));
  }
  return f;
}

// A firmware answer: "OK", "YES", "XERR".
inline Bytes FirmwareReply(std::string_view text) { return Reply(cmd::kFirmware, Text(text)); }

// `n` pseudo-random bytes, different for each `seed`, so a chunk sent twice or in the
// wrong place shows.
inline Bytes TestImage(std::size_t n, uint32_t seed = 1) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

// The 32-bit sum the firmware end frame carries.
inline uint32_t Sum32(std::span<const uint8_t> b) { return std::accumulate(b.begin(), b.end(), 0u); }

// False unless every byte was written.
inline bool WriteBytes(const QString& path, std::span<const uint8_t> bytes,
                       QIODevice::OpenMode mode = QIODevice::WriteOnly) {
  QFile f(path);
  const auto size = static_cast<qint64>(bytes.size());
  return f.open(mode) && f.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
}

// The whole file; empty when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline Bytes ReadBytes(const QString& path) {
  const QByteArray b = ReadFile(path);
  return Bytes(b.begin(), b.end());
}

}  // namespace velmora::test
