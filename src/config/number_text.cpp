#include "config/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <system_error>

namespace velmora {
namespace {

// Classification as the C locale does it.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipSignedStart(std::string_view s, bool& negative) {
  std::size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  return i;
}

}  // namespace

int32_t ReadInt(std::string_view s) {
  bool negative = false;
  std::size_t i = SkipSignedStart(s, negative);
  constexpr int64_t kCap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) v = std::min(v * 10 + (s[i] - '0'), kCap);
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

double ReadDouble(std::string_view s) {
  bool negative = false;
  std::size_t i = SkipSignedStart(s, negative);
  const std::size_t start = i;
  std::size_t int_digits = 0, frac_digits = 0;
  // Decimal position of the first significant digit, to tell overflow from underflow.
  int64_t lead_exp = 0;
  bool seen_nonzero = false;
  for (; i < s.size() && IsDigit(s[i]); ++i, ++int_digits) {
    if (!seen_nonzero && s[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++lead_exp;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++frac_digits) {
      if (!seen_nonzero) {
        if (s[i] != '0') seen_nonzero = true;
        else --lead_exp;
      }
    }
  }
  if (int_digits + frac_digits == 0) return 0.0;
  int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    bool exp_negative = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp_negative = s[j++] == '-';
    if (j < s.size() && IsDigit(s[j])) {
      for (; j < s.size() && IsDigit(s[j]); ++j) exponent = std::min<int64_t>(exponent * 10 + (s[j] - '0'), 1'000'000'000);
      if (exp_negative) exponent = -exponent;
      i = j;
    }
  }
  double value = 0.0;
  const auto res = std::from_chars(s.data() + start, s.data() + i, value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range)
    value = (lead_exp + exponent > 0) ? HUGE_VAL : 0.0;
  return negative ? -value : value;
}

}  // namespace velmora
