#include "config/config_record.h"
#include "protocol/gbk.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes At(const ConfigRecord& r, std::size_t at, std::size_t n) { return Bytes(r.begin() + at, r.begin() + at + n); }
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }
Bytes Text(const std::string& s, std::size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}
std::string Gbk(const char* utf8) { return ToGbk(QString::fromUtf8(utf8)); }

struct Golden {
  const char* what;
  std::function<void(ConfigForm&)> set;
  std::size_t at;
  Bytes bytes;
};

TEST(ConfigEncode, FieldsLandAtTheirOffsetsInTheirWidth) {
  const std::string hb = "a" + Gbk("心跳心跳心");  // 11 bytes, the 10th and 11th one character
  std::string hex40, hex70;
  for (int i = 0; i < 40; ++i) hex40 += "0123456789abcdef"[i % 16];
  for (int i = 0; i < 70; ++i) hex70 += "FEDCBA9876543210"[i % 16];
  const Golden cases[] = {
      {"434.00", [](ConfigForm& f) { f.lora_freq = "434.00"; }, 160, {0x6C, 0x80, 0x12}},
      {"433.50", [](ConfigForm& f) { f.lora_freq = "433.50"; }, 160, {0x6C, 0x60, 0x12}},
      {"868.00", [](ConfigForm& f) { f.lora_freq = "868.00"; }, 160, {0xD9, 0x00, 0x24}},
      {"1100 loses its top bits", [](ConfigForm& f) { f.lora_freq = "1100"; }, 160, {0x13, 0x00, 0x2E}},
      {"atof reading", [](ConfigForm& f) { f.lora_freq = " +4.34e2MHz"; }, 160, {0x6C, 0x80, 0x12}},
      {"comma ends the number", [](ConfigForm& f) { f.lora_freq = "434,5"; }, 160, {0x6C, 0x80, 0x12}},
      {"exponent without digits", [](ConfigForm& f) { f.lora_freq = "434.e"; }, 160, {0x6C, 0x80, 0x12}},
      {"-1 MHz", [](ConfigForm& f) { f.lora_freq = "-1"; }, 160, {0xFF, 0xC0, 0x00}},
      {"no number", [](ConfigForm& f) { f.lora_freq = "inf"; }, 160, Zeros(3)},
      {"beyond the step count", [](ConfigForm& f) { f.lora_freq = "1e400"; }, 160, Zeros(3)},
      {"port 70000", [](ConfigForm& f) { f.eth_port = "70000"; }, 16, {0x11, 0x70}},
      {"port -1", [](ConfigForm& f) { f.eth_port = "  -1"; }, 16, {0xFF, 0xFF}},
      {"port with a tail", [](ConfigForm& f) { f.ip1_port = "8080abc"; }, 94, {0x1F, 0x90}},
      {"port saturating", [](ConfigForm& f) { f.ip1_port = "99999999999999999999"; }, 94, {0xFF, 0xFF}},
      {"net address 300", [](ConfigForm& f) { f.lora_net_addr = "300"; }, 165, {300 & 0xFF}},
      {"no network mode", [](ConfigForm&) {}, 19, {0}},
      {"TCP Server", [](ConfigForm& f) { f.net_mode = 1; }, 19, {2}},
      {"9600", [](ConfigForm& f) { f.uart_baud = 3; }, 168, {4}},
      {"115200", [](ConfigForm& f) { f.uart_baud = 7; }, 168, {8}},
      {"以太网", [](ConfigForm& f) { f.uart_map = 4; }, 170, {4}},
      {"no selection", [](ConfigForm&) {}, 163, {0xFF, 0xFF, 0, 0xFF, 0xFF, 0, 0xFF, 0xFF}},
      {"12 letters as text", [](ConfigForm& f) { f.heartbeat = "ABCDEFGHIJKL"; }, 171, Text("\x0A" "ABCDEFGHIJ", 11)},
      {"character kept whole", [&](ConfigForm& f) { f.heartbeat = hb; }, 171, Text("\x09" + hb.substr(0, 9), 11)},
      {"01 02 0a", [](ConfigForm& f) { f.hex = true, f.heartbeat = "01 02 0a"; }, 171, Text("\x03\x01\x02\x0A", 11)},
      {"123", [](ConfigForm& f) { f.hex = true, f.register_data = "123"; }, 182, {1, 0x12, 0}},
      {"non-hex ends reading", [](ConfigForm& f) { f.hex = true, f.heartbeat = "01 02 ZZ 03"; }, 171, {2, 1, 2, 0}},
      {"40 digits", [&](ConfigForm& f) { f.hex = true, f.register_data = hex40; }, 182, {20, 0x01}},
      {"40 digits, last", [&](ConfigForm& f) { f.hex = true, f.register_data = hex40; }, 202, {0x67, 0}},
      {"70 digits", [&](ConfigForm& f) { f.hex = true, f.register_data = hex70; }, 214, {0x10}},
      {"70 digits length", [&](ConfigForm& f) { f.hex = true, f.register_data = hex70; }, 182, {32}},
      {"MAC with spaces", [](ConfigForm& f) { f.mac = "02 1F 3C 4D 5E 60 "; }, 215, {2, 0x1F, 0x3C, 0x4D, 0x5E, 0x60}},
      {"MAC with colons", [](ConfigForm& f) { f.mac = "02:1f:3c:4d:5e:60"; }, 215, {2, 0x1F, 0x3C, 0x4D, 0x5E, 0x60}},
      {"MAC with dashes", [](ConfigForm& f) { f.mac = "02-1F-3C-4D-5E-60"; }, 215, {2, 0x1F, 0x3C, 0x4D, 0x5E, 0x60}},
      {"MAC too long", [](ConfigForm& f) { f.mac = "021F3C4D5E60AB"; }, 215, {2, 0x1F, 0x3C, 0x4D, 0x5E, 0x60}},
      {"MAC short", [](ConfigForm& f) { f.mac = "021F3C"; }, 215, {2, 0x1F, 0x3C, 0, 0, 0}},
      {"MAC odd", [](ConfigForm& f) { f.mac = "021F3"; }, 215, {2, 0x1F, 0, 0, 0, 0}},
      {"MAC not hex", [](ConfigForm& f) { f.mac = "02 1G 3C 4D 5E 60"; }, 215, {2, 0, 0, 0, 0, 0}},
  };
  for (const Golden& c : cases) {
    ConfigForm f;
    c.set(f);
    EXPECT_EQ(At(EncodeConfig(f), c.at, c.bytes.size()), c.bytes) << c.what;
  }
}

TEST(ConfigEncode, DhcpDomainAndIp0DomainRules) {
  ConfigForm f;
  f.local_ip = {192, 168, 1, 7}, f.subnet_mask = {255, 255, 255, 0}, f.gateway = {192, 168, 1, 1};
  f.server_ip = {47, 1, 2, 3}, f.ip0_addr = {10, 0, 0, 1}, f.ip1_addr = {10, 0, 0, 2};
  f.ip0_addr_port = "1020", f.ip0_domain_port = "1022";
  auto r = EncodeConfig(f);
  EXPECT_EQ(At(r, 0, 16), (Bytes{192, 168, 1, 7, 255, 255, 255, 0, 192, 168, 1, 1, 47, 1, 2, 3}));
  EXPECT_EQ(r[18], 0);
  EXPECT_EQ(At(r, 20, 64), Zeros(64));
  EXPECT_EQ(At(r, 84, 10), (Bytes{10, 0, 0, 1, 0x03, 0xFC, 10, 0, 0, 2}));

  f.dhcp = true;
  f.domain = std::string(64, 'd');                     // fills its field exactly
  f.ip0_domain = std::string(63, 'x') + Gbk("域名");  // 67 bytes: cut before the character
  r = EncodeConfig(f);
  EXPECT_EQ(At(r, 0, 16), Zeros(16));
  EXPECT_EQ(r[18], 1);
  EXPECT_EQ(At(r, 20, 64), Bytes(64, 'd'));
  EXPECT_EQ(At(r, 84, 10), (Bytes{0, 0, 0, 0, 0x03, 0xFE, 10, 0, 0, 2}));
  EXPECT_EQ(At(r, 96, 64), Text(std::string(63, 'x'), 64));
}

TEST(ConfigDecode, FieldsReadBackAndNeverPastTheirEnd) {
  ConfigRecord r{};
  r[160] = 0x66, r[161] = 0x88, r[162] = 0x11;
  r[88] = 0x03, r[89] = 0xFC;
  r[19] = 4, r[168] = 9, r[163] = 5, r[164] = 6, r[166] = 7, r[167] = 3, r[169] = 0xFF, r[170] = 5;
  r[171] = 2, r[172] = 0x01, r[173] = 0x02;
  r[182] = 3, r[183] = 'a', r[184] = 0, r[185] = 'b';
  r[215] = 0x0A, r[220] = 0xFF;
  auto d = DecodeConfig(r, true);
  EXPECT_EQ(d.lora_freq, "410.12");  // truncated, not rounded
  EXPECT_EQ(d.ip0_addr_port, "1020");
  EXPECT_EQ(d.ip0_domain_port, "0");
  for (int pos : {d.net_mode, d.uart_baud, d.sleep_time, d.breathe_time, d.tx_power, d.uart_parity, d.uart_mode,
                  d.uart_map})
    EXPECT_EQ(pos, -1);
  EXPECT_EQ(d.heartbeat, "01 02 ");
  EXPECT_EQ(d.register_data, "61 00 62 ");
  EXPECT_EQ(d.mac, "0A 00 00 00 00 FF ");
  d = DecodeConfig(r, false);
  EXPECT_EQ(d.heartbeat, std::string("\x01\x02"));
  EXPECT_EQ(d.register_data, "a");

  r[19] = 3, r[168] = 8, r[163] = 4, r[164] = 5, r[166] = 6, r[167] = 2, r[169] = 2, r[170] = 4;
  std::fill_n(r.begin() + 96, 64, 'y');  // a full IP0 domain, followed by frequency bytes
  d = DecodeConfig(r, false);
  EXPECT_EQ((std::vector<int>{d.net_mode, d.uart_baud, d.sleep_time, d.breathe_time, d.tx_power, d.uart_parity,
                              d.uart_mode, d.uart_map}),
            (std::vector<int>{2, 7, 4, 5, 6, 2, 2, 4}));
  EXPECT_EQ(d.ip0_domain, std::string(64, 'y'));
  EXPECT_EQ(d.ip0_domain_port, "1020");
  EXPECT_EQ(d.ip0_addr_port, "0");

  // Length bytes beyond their field show the field only.
  r.fill('A');
  r[171] = 0xFF, r[182] = 33;
  d = DecodeConfig(r, true);
  EXPECT_EQ(d.heartbeat->size(), 30u);
  EXPECT_EQ(d.register_data->size(), 96u);
  d = DecodeConfig(r, false);
  EXPECT_EQ(d.heartbeat, std::string(10, 'A'));
  EXPECT_EQ(d.register_data, std::string(32, 'A'));
  EXPECT_EQ(d.domain, std::string(64, 'A'));
}

TEST(ConfigDecode, EmptyAndShortPayloadsReadAsZeros) {
  const auto d = DecodeConfig({}, false);
  for (const auto& ip : {d.local_ip, d.subnet_mask, d.gateway, d.server_ip, d.ip0_addr, d.ip1_addr})
    EXPECT_EQ(ip, Ipv4Octets{});
  for (const auto& port : {d.eth_port, d.ip0_addr_port, d.ip0_domain_port, d.ip1_port, d.lora_net_addr})
    EXPECT_EQ(port, "0");
  EXPECT_EQ(d.domain + d.ip0_domain, "");
  EXPECT_FALSE(d.dhcp);
  EXPECT_EQ(d.net_mode, -1);
  EXPECT_EQ(d.uart_baud, -1);
  EXPECT_EQ((std::vector<int>{d.sleep_time, d.breathe_time, d.tx_power, d.uart_parity, d.uart_mode, d.uart_map}),
            std::vector<int>(6, 0));
  EXPECT_EQ(d.lora_freq, "0.00");
  EXPECT_FALSE(d.heartbeat.has_value());
  EXPECT_FALSE(d.register_data.has_value());
  EXPECT_EQ(d.mac, "00 00 00 00 00 00 ");

  // Every prefix decodes as the prefix padded with zeros; bytes past the record are ignored.
  ConfigRecord full;
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i * 7 + 1);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    ConfigRecord padded{};
    std::copy_n(full.begin(), n, padded.begin());
    for (bool hex : {false, true})
      ASSERT_EQ(EncodeConfig(DecodeConfig(std::span(full.data(), n), hex)), EncodeConfig(DecodeConfig(padded, hex)))
          << n;
  }
  Bytes longer(full.begin(), full.end());
  longer.resize(255, 0xEE);
  EXPECT_EQ(EncodeConfig(DecodeConfig(longer, true)), EncodeConfig(DecodeConfig(full, true)));
}

TEST(ConfigFrequency, EveryHundredthAboveTwentyThreeMhzReadsBackUnchanged) {
  // Below that the two step sizes differ by more than the truncated fraction of a step.
  ConfigForm f;
  char text[16];
  for (int h = 2300; h < 102400; ++h) {
    std::snprintf(text, sizeof text, "%d.%02d", h / 100, h % 100);
    f.lora_freq = text;
    ASSERT_EQ(DecodeConfig(EncodeConfig(f), false).lora_freq, text);
  }
}

TEST(ConfigFrequency, LocaleDecimalCommaChangesNothing) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma installed";
  ConfigForm f;
  f.lora_freq = "433.50";
  const auto r = EncodeConfig(f);
  const std::string text = DecodeConfig(r, false).lora_freq;
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(At(r, 160, 3), (Bytes{0x6C, 0x60, 0x12}));
  EXPECT_EQ(text, "433.50");
}

// Forms as the pages produce them: valid list positions, frequencies in the radio's
// range with two decimals, any bytes but zero in the texts.
ConfigForm RandomForm(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto ip = [&] { return Ipv4Octets{uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))}; };
  auto text = [&](int max_len, const std::string& alphabet) {
    std::string s(static_cast<std::size_t>(pick(0, max_len)), ' ');
    for (char& c : s) c = alphabet.empty() ? char(pick(1, 255)) : alphabet[pick(0, int(alphabet.size()) - 1)];
    return s;
  };
  const std::string number = "0123456789 +-x", hex = "0123456789abcdefABCDEF  ";
  ConfigForm f;
  f.local_ip = ip(), f.subnet_mask = ip(), f.gateway = ip(), f.server_ip = ip(), f.ip0_addr = ip(), f.ip1_addr = ip();
  f.dhcp = pick(0, 1);
  f.eth_port = text(7, number), f.ip0_domain_port = text(7, number), f.ip0_addr_port = text(7, number);
  f.ip1_port = text(7, number), f.lora_net_addr = text(4, number);
  f.domain = pick(0, 1) ? text(70, "") : "";
  f.ip0_domain = pick(0, 1) ? text(70, "") : "";
  char freq[16];
  std::snprintf(freq, sizeof freq, "%d.%02d", pick(23, 1023), pick(0, 99));
  f.lora_freq = freq;
  f.net_mode = pick(-1, kNetModeItems - 1), f.sleep_time = pick(-1, kSleepTimeItems - 1);
  f.breathe_time = pick(-1, kBreatheTimeItems - 1), f.tx_power = pick(-1, kTxPowerItems - 1);
  f.uart_baud = pick(-1, kUartBaudItems - 1), f.uart_parity = pick(-1, kUartParityItems - 1);
  f.uart_mode = pick(-1, kUartModeItems - 1), f.uart_map = pick(-1, kUartMapItems - 1);
  f.hex = pick(0, 1);
  f.heartbeat = f.hex ? text(30, hex) : text(14, "");
  f.register_data = f.hex ? text(80, hex) : text(40, "");
  f.mac = text(17, hex + ":-");
  return f;
}

TEST(ConfigRoundTrip, ReencodingADecodedRecordGivesTheSameBytes) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 5000; ++i) {
    const ConfigForm form = RandomForm(rng);
    const ConfigRecord first = EncodeConfig(form);
    ASSERT_EQ(EncodeConfig(DecodeConfig(first, form.hex)), first) << "form " << i;
  }
}

}  // namespace
}  // namespace velmora
