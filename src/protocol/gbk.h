#pragma once
// The device's text fields and its text output are GBK; every limit counts GBK bytes.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

std::string ToGbk(const QString& text);
QString FromGbk(std::span<const uint8_t> bytes);
QString FromGbk(const std::string& bytes);

// Number of GBK bytes the text takes.
std::size_t GbkLength(const QString& text);

// The longest prefix of `text` that fits in `max_bytes` GBK bytes, never splitting a character.
QString TruncateToGbkBytes(const QString& text, std::size_t max_bytes);

}  // namespace velmora
