// Configuration replies come from the network: decoding any payload must stay inside
// its fields and give a form that encodes back to the same data.
#include "config/config_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"

using namespace velmora;


namespace {

bool ValidPosition(int pos, int items) { return pos >= -1 && pos < items; }

bool NoZero(const std::string& s) { return s.find('\0') == std::string::npos; }

void CheckPacket(const std::optional<std::string>& text, uint8_t len, std::size_t limit, bool hex) {
  CHECK(text.has_value() == (len != 0));
  if (!text) return;
  if (hex)
    CHECK(text->size() == 3 * std::min<std::size_t>(len, limit));
  else
    CHECK(text->size() <= std::min<std::size_t>(len, limit) && NoZero(*text));
}

// The bytes an encoder writes for a packet that was read back: the text up to its first
// zero (text mode) or all of it (hex mode), at most the field.
void CheckPacketBytes(const ConfigRecord& in, const ConfigRecord& out, std::size_t len_at, std::size_t limit,
                      bool hex) {
  const uint8_t* src = in.data() + len_at + 1;
  const uint8_t* dst = out.data() + len_at + 1;
  std::size_t n = std::min<std::size_t>(in[len_at], limit);
  if (!hex) n = std::find(src, src + n, 0) - src;
  CHECK(out[len_at] == n);
  CHECK(std::equal(src, src + n, dst));
  CHECK(std::all_of(dst + n, dst + limit, [](uint8_t b) { return b == 0; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ConfigRecord padded{};
  std::memcpy(padded.data(), data, std::min(size, padded.size()));

  for (bool hex : {false, true}) {
    const ConfigForm f = DecodeConfig(std::span(data, size), hex);
    CHECK(ValidPosition(f.net_mode, kNetModeItems) && ValidPosition(f.sleep_time, kSleepTimeItems) &&
          ValidPosition(f.breathe_time, kBreatheTimeItems) && ValidPosition(f.tx_power, kTxPowerItems) &&
          ValidPosition(f.uart_baud, kUartBaudItems) && ValidPosition(f.uart_parity, kUartParityItems) &&
          ValidPosition(f.uart_mode, kUartModeItems) && ValidPosition(f.uart_map, kUartMapItems));
    CHECK(f.domain.size() <= 64 && NoZero(f.domain));
    CHECK(f.ip0_domain.size() <= 64 && NoZero(f.ip0_domain));
    CheckPacket(f.heartbeat, padded[171], 10, hex);
    CheckPacket(f.register_data, padded[182], 32, hex);
    CHECK(f.mac.size() == 18);
    CHECK(f.lora_freq.size() >= 4 && f.lora_freq[f.lora_freq.size() - 3] == '.');

    const ConfigRecord r = EncodeConfig(f);
    CHECK(std::equal(padded.begin() + 215, padded.end(), r.begin() + 215));  // MAC survives
    CheckPacketBytes(padded, r, 171, 10, hex);
    CheckPacketBytes(padded, r, 182, 32, hex);
    CHECK(std::equal(padded.begin() + 90, padded.begin() + 96, r.begin() + 90));  // IP1 address and port

    // Encoding is stable from here on; the frequency only where the two step sizes agree
    // to the hundredth (above about 23 MHz).
    const ConfigRecord again = EncodeConfig(DecodeConfig(r, hex));
    const uint32_t steps = uint32_t{r[160]} << 16 | uint32_t{r[161]} << 8 | r[162];
    if (steps / 1000000.0 * 61.03515625 >= 23.0) {
      CHECK(again == r);
    } else {
      ConfigRecord a = again, b = r;
      std::fill_n(a.begin() + 160, 3, 0);
      std::fill_n(b.begin() + 160, 3, 0);
      CHECK(a == b);
    }
  }
  return 0;
}
