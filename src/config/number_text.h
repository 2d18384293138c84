#pragma once
// Numbers typed into the configuration form, read the way the C library's atoi and atof
// read them in the C locale. Texts are GBK bytes, and the process locale must not change
// how a number is read.

#include <cstdint>
#include <string_view>

namespace velmora {

// atoi's reading; out-of-range values saturate at the int range.
int32_t ReadInt(std::string_view s);

// atof's reading of a decimal number with optional fraction and exponent, with '.' as
// the decimal point whatever the locale.
double ReadDouble(std::string_view s);

}  // namespace velmora
