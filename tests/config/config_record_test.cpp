#include "config/config_record.h"
#include "protocol/gbk.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes At(const ConfigRecord& r, std::size_t at, std::size_t n) { return Bytes(r.begin() + at, r.begin() + at + n); }
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }
std::string Gbk(const char* utf8) { return ToGbk(QString::fromUtf8(utf8)); }

ConfigRecord WithFreq(const std::string& text) {
  ConfigForm f;
  f.lora_freq = text;
  return EncodeConfig(f);
}

ConfigForm DecodeRecord(const ConfigRecord& r, bool hex = false) { return DecodeConfig(r, hex); }

ConfigForm Packets(std::optional<std::string> hb, std::optional<std::string> reg, bool hex) {
  ConfigForm f;
  f.heartbeat = std::move(hb);
  f.register_data = std::move(reg);
  f.hex = hex;
  return f;
}

TEST(ConfigFrequency, WorkedExamplesBothWays) {
  EXPECT_EQ(At(WithFreq("434.00"), 160, 3), (Bytes{0x6C, 0x80, 0x12}));
  EXPECT_EQ(At(WithFreq("433.50"), 160, 3), (Bytes{0x6C, 0x60, 0x12}));
  EXPECT_EQ(At(WithFreq("868.00"), 160, 3), (Bytes{0xD9, 0x00, 0x24}));
  EXPECT_EQ(At(WithFreq("1100"), 160, 3), (Bytes{0x13, 0x00, 0x2E}));  // top bits dropped

  ConfigRecord r{};
  r[160] = 0x66, r[161] = 0x88, r[162] = 0x11;
  EXPECT_EQ(DecodeRecord(r).lora_freq, "410.12");  // truncated, not rounded to 410.13
  EXPECT_EQ(DecodeRecord(WithFreq("434.00")).lora_freq, "434.00");
  EXPECT_EQ(DecodeRecord(WithFreq("433.50")).lora_freq, "433.50");
}

TEST(ConfigFrequency, TextIsReadLikeAtof) {
  const Bytes f434{0x6C, 0x80, 0x12};
  EXPECT_EQ(At(WithFreq("  434"), 160, 3), f434);
  EXPECT_EQ(At(WithFreq("+434.00MHz"), 160, 3), f434);
  EXPECT_EQ(At(WithFreq("4.34e2"), 160, 3), f434);
  EXPECT_EQ(At(WithFreq("434.e"), 160, 3), f434);   // an exponent without digits is not read
  EXPECT_EQ(At(WithFreq("434,50"), 160, 3), f434);  // a comma ends the number
  for (const char* nothing : {"", "MHz", ".", "-", "e5", "inf", "nan"})
    EXPECT_EQ(At(WithFreq(nothing), 160, 3), Zeros(3)) << nothing;
  // Beyond what the step count can hold: nonsense in, nothing but zero bytes out.
  EXPECT_EQ(At(WithFreq("1e400"), 160, 3), Zeros(3));
  EXPECT_EQ(At(WithFreq("1e-400"), 160, 3), Zeros(3));
  // -1 MHz: -16384 steps, two's complement low 24 bits.
  EXPECT_EQ(At(WithFreq("-1"), 160, 3), (Bytes{0xFF, 0xC0, 0x00}));
}

TEST(ConfigFrequency, LocaleDecimalCommaChangesNothing) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"};
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* used = nullptr;
  for (const char* n : names)
    if (std::setlocale(LC_NUMERIC, n)) { used = n; break; }
  if (!used) GTEST_SKIP() << "no locale with a decimal comma installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const Bytes bytes = At(WithFreq("433.50"), 160, 3);
  const std::string text = DecodeRecord(WithFreq("868.00")).lora_freq;
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_STREQ(probe, "1,5") << used;
  EXPECT_EQ(bytes, (Bytes{0x6C, 0x60, 0x12}));
  EXPECT_EQ(text, "868.00");
}

TEST(ConfigFrequency, EveryHundredthAboveTwentyThreeMhzReadsBackUnchanged) {
  // Below that the two step sizes differ by more than the lost fraction of a step.
  ConfigForm f;
  char text[16];
  for (int h = 2300; h < 102400; ++h) {
    std::snprintf(text, sizeof text, "%d.%02d", h / 100, h % 100);
    f.lora_freq = text;
    ASSERT_EQ(DecodeRecord(EncodeConfig(f)).lora_freq, text);
  }
}

TEST(ConfigNumbers, PortsAndNetworkAddressAreCutToTheirWidth) {
  ConfigForm f;
  f.eth_port = "70000";
  f.ip1_port = "  -1";
  f.ip0_addr_port = "8080abc";
  f.lora_net_addr = "300";
  auto r = EncodeConfig(f);
  EXPECT_EQ(At(r, 16, 2), (Bytes{0x11, 0x70}));
  EXPECT_EQ(At(r, 94, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(At(r, 88, 2), (Bytes{0x1F, 0x90}));
  EXPECT_EQ(r[165], 300 & 0xFF);
  const auto d = DecodeRecord(r);
  EXPECT_EQ(d.eth_port, "4464");
  EXPECT_EQ(d.ip1_port, "65535");
  EXPECT_EQ(d.lora_net_addr, "44");

  f = {};
  f.eth_port = "99999999999999999999";  // saturates at the int range: low 16 bits all set
  f.ip1_port = "x1";
  r = EncodeConfig(f);
  EXPECT_EQ(At(r, 16, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(At(r, 94, 2), Zeros(2));
}

TEST(ConfigLists, OneBasedAndZeroBasedPositionsBothWays) {
  ConfigForm f;
  f.net_mode = 1;   // TCP Server
  f.uart_baud = 3;  // 9600
  f.uart_map = 4;   // Ethernet
  f.tx_power = 6;
  auto r = EncodeConfig(f);
  EXPECT_EQ(r[19], 2);
  EXPECT_EQ(r[168], 4);
  EXPECT_EQ(r[170], 4);
  EXPECT_EQ(r[166], 6);
  EXPECT_EQ(r[163], 0xFF);  // no selection, 0-based
  EXPECT_EQ(r[167], 0xFF);
  f.uart_baud = 7;  // 115200
  f.net_mode = -1;
  r = EncodeConfig(f);
  EXPECT_EQ(r[168], 8);
  EXPECT_EQ(r[19], 0);  // no selection, 1-based
  f.uart_baud = -1;
  EXPECT_EQ(EncodeConfig(f)[168], 0);

  // Positions that name no item come back as no selection.
  r = {};
  r[19] = 4, r[168] = 9, r[163] = 5, r[164] = 6, r[166] = 7, r[167] = 3, r[169] = 0xFF, r[170] = 5;
  const auto d = DecodeRecord(r);
  for (int pos : {d.net_mode, d.uart_baud, d.sleep_time, d.breathe_time, d.tx_power, d.uart_parity, d.uart_mode,
                  d.uart_map})
    EXPECT_EQ(pos, -1);
  r[19] = 3, r[168] = 8, r[163] = 4, r[164] = 5, r[166] = 6, r[167] = 2, r[169] = 2, r[170] = 4;
  const auto e = DecodeRecord(r);
  EXPECT_EQ((std::vector<int>{e.net_mode, e.uart_baud, e.sleep_time, e.breathe_time, e.tx_power, e.uart_parity,
                              e.uart_mode, e.uart_map}),
            (std::vector<int>{2, 7, 4, 5, 6, 2, 2, 4}));
}

TEST(ConfigAddresses, DhcpDomainAndIp0DomainRules) {
  ConfigForm f;
  f.local_ip = {192, 168, 1, 7};
  f.subnet_mask = {255, 255, 255, 0};
  f.gateway = {192, 168, 1, 1};
  f.server_ip = {47, 1, 2, 3};
  f.ip0_addr = {10, 0, 0, 1};
  f.ip0_addr_port = "1020";
  f.ip0_domain_port = "1022";
  f.ip1_addr = {10, 0, 0, 2};
  auto r = EncodeConfig(f);
  EXPECT_EQ(At(r, 0, 12), (Bytes{192, 168, 1, 7, 255, 255, 255, 0, 192, 168, 1, 1}));
  EXPECT_EQ(At(r, 12, 4), (Bytes{47, 1, 2, 3}));
  EXPECT_EQ(At(r, 20, 64), Zeros(64));
  EXPECT_EQ(At(r, 84, 6), (Bytes{10, 0, 0, 1, 0x03, 0xFC}));
  EXPECT_EQ(At(r, 90, 4), (Bytes{10, 0, 0, 2}));
  auto d = DecodeRecord(r);
  EXPECT_EQ(d.ip0_addr_port, "1020");
  EXPECT_EQ(d.ip0_domain_port, "0");

  f.dhcp = true;
  f.domain = "iot.example.com";
  f.ip0_domain = "a.example.com";
  r = EncodeConfig(f);
  EXPECT_EQ(At(r, 0, 12), Zeros(12));
  EXPECT_EQ(r[18], 1);
  EXPECT_EQ(At(r, 12, 4), Zeros(4));
  EXPECT_EQ(At(r, 20, 16), (Bytes{'i', 'o', 't', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e', '.', 'c', 'o', 'm', 0}));
  EXPECT_EQ(At(r, 84, 6), (Bytes{0, 0, 0, 0, 0x03, 0xFE}));
  d = DecodeRecord(r);
  EXPECT_TRUE(d.dhcp);
  EXPECT_EQ(d.domain, "iot.example.com");
  EXPECT_EQ(d.ip0_domain, "a.example.com");
  EXPECT_EQ(d.ip0_domain_port, "1022");
  EXPECT_EQ(d.ip0_addr_port, "0");
}

TEST(ConfigAddresses, DomainNamesFillTheirFieldButNeverLeaveIt) {
  ConfigForm f;
  f.domain = std::string(64, 'd');
  f.ip0_domain = std::string(63, 'x') + Gbk("域名");  // 67 bytes: the character must not be split
  f.ip0_addr = {1, 2, 3, 4};
  f.ip0_domain_port = "5";
  auto r = EncodeConfig(f);
  EXPECT_EQ(At(r, 20, 64), Bytes(64, 'd'));
  EXPECT_EQ(At(r, 84, 6), (Bytes{0, 0, 0, 0, 0, 5}));
  Bytes cut(64, 0);
  std::fill_n(cut.begin(), 63, 'x');
  EXPECT_EQ(At(r, 96, 64), cut);
  f.domain = std::string(62, 'd') + Gbk("域");
  f.ip0_domain = std::string(70, 'y');
  r = EncodeConfig(f);
  EXPECT_EQ(DecodeRecord(r).domain, f.domain);
  // A full field is read to its end, not into the next one.
  r[84] = 'Z';
  r[160] = 'Z';
  const auto d = DecodeRecord(r);
  EXPECT_EQ(d.ip0_domain, std::string(64, 'y'));
  EXPECT_EQ(d.domain.size(), 64u);
}

TEST(ConfigPackets, TextModeCopiesBytesUpToTheLimit) {
  auto r = EncodeConfig(Packets("ABCDEFGHIJKL", std::string(40, 'r'), false));
  EXPECT_EQ(r[171], 10);
  EXPECT_EQ(At(r, 172, 10), Bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}));
  EXPECT_EQ(r[182], 32);
  EXPECT_EQ(At(r, 183, 32), Bytes(32, 'r'));
  // 11 bytes whose tenth and eleventh are one character: the character stays whole or out.
  const std::string hb = "a" + Gbk("心跳心跳心");
  r = EncodeConfig(Packets(hb, std::nullopt, false));
  EXPECT_EQ(r[171], 9);
  Bytes kept(hb.begin(), hb.begin() + 9);
  kept.push_back(0);
  EXPECT_EQ(At(r, 172, 10), kept);
  EXPECT_EQ(DecodeRecord(r).heartbeat, hb.substr(0, 9));

  r = EncodeConfig(Packets("", "", false));
  EXPECT_EQ(r[171], 0);
  EXPECT_EQ(r[182], 0);
  const auto d = DecodeRecord(r);
  EXPECT_FALSE(d.heartbeat.has_value());
  EXPECT_FALSE(d.register_data.has_value());
}

TEST(ConfigPackets, HexModeReadsDigitPairs) {
  auto r = EncodeConfig(Packets("01 02 0a", "123", true));
  EXPECT_EQ(r[171], 3);
  EXPECT_EQ(At(r, 172, 4), (Bytes{0x01, 0x02, 0x0A, 0}));
  EXPECT_EQ(r[182], 1);
  EXPECT_EQ(At(r, 183, 2), (Bytes{0x12, 0}));

  std::string digits40, digits70;
  for (int i = 0; i < 40; ++i) digits40 += "0123456789abcdef"[i % 16];
  for (int i = 0; i < 70; ++i) digits70 += "FEDCBA9876543210"[i % 16];
  r = EncodeConfig(Packets("00112233445566778899AABB", digits40, true));
  EXPECT_EQ(r[171], 10);
  EXPECT_EQ(r[172 + 9], 0x99);
  EXPECT_EQ(r[182], 20);
  EXPECT_EQ(r[183 + 19], 0x67);
  r = EncodeConfig(Packets(std::nullopt, digits70, true));
  EXPECT_EQ(r[182], 32);
  EXPECT_EQ(r[183 + 31], 0x10);

  // Reading stops at the first pair that is not two hex digits.
  r = EncodeConfig(Packets("01 02 ZZ 03", "0x41", true));
  EXPECT_EQ(r[171], 2);
  EXPECT_EQ(At(r, 172, 3), (Bytes{0x01, 0x02, 0}));
  EXPECT_EQ(r[182], 0);
  EXPECT_EQ(At(r, 183, 32), Zeros(32));
}

TEST(ConfigPackets, DecodeFollowsHexBoxAndNeverReadsPastTheField) {
  ConfigRecord r{};
  r[171] = 2, r[172] = 0x01, r[173] = 0x02;
  r[182] = 3, r[183] = 'a', r[184] = 0, r[185] = 'b';
  auto d = DecodeRecord(r, true);
  EXPECT_EQ(d.heartbeat, "01 02 ");
  EXPECT_EQ(d.register_data, "61 00 62 ");
  EXPECT_TRUE(d.hex);
  d = DecodeRecord(r, false);
  EXPECT_EQ(d.heartbeat, std::string("\x01\x02"));
  EXPECT_EQ(d.register_data, "a");

  // Lengths beyond the field show the field only.
  r.fill(0x41);
  r[171] = 0xFF;
  r[182] = 33;
  d = DecodeRecord(r, true);
  EXPECT_EQ(d.heartbeat->size(), 30u);
  EXPECT_EQ(d.register_data->size(), 96u);
  d = DecodeRecord(r, false);
  EXPECT_EQ(d.heartbeat, std::string(10, 'A'));
  EXPECT_EQ(d.register_data, std::string(32, 'A'));
}

TEST(ConfigMac, AcceptedFormsAndWhatIsLeftOut) {
  auto mac = [](const std::string& text) {
    ConfigForm f;
    f.mac = text;
    return At(EncodeConfig(f), 215, 6);
  };
  const Bytes full{0x02, 0x1F, 0x3C, 0x4D, 0x5E, 0x60};
  EXPECT_EQ(mac("02 1F 3C 4D 5E 60 "), full);
  EXPECT_EQ(mac("021f3c4d5e60"), full);
  EXPECT_EQ(mac("02:1F:3C:4D:5E:60"), full);
  EXPECT_EQ(mac("02-1F-3C-4D-5E-60"), full);
  EXPECT_EQ(mac("021F3C4D5E60AB"), full);  // beyond six bytes is ignored
  EXPECT_EQ(mac("021F3C"), (Bytes{0x02, 0x1F, 0x3C, 0, 0, 0}));
  EXPECT_EQ(mac("021F3"), (Bytes{0x02, 0x1F, 0, 0, 0, 0}));  // lone last digit ignored
  EXPECT_EQ(mac("02 1G 3C 4D 5E 60"), (Bytes{0x02, 0, 0, 0, 0, 0}));
  EXPECT_EQ(mac(""), Zeros(6));

  ConfigForm f;
  f.mac = "0a 0B 3c 4D 5e FF";
  const std::string shown = DecodeRecord(EncodeConfig(f)).mac;
  EXPECT_EQ(shown, "0A 0B 3C 4D 5E FF ");
  EXPECT_EQ(mac(shown), (Bytes{0x0A, 0x0B, 0x3C, 0x4D, 0x5E, 0xFF}));
}

TEST(ConfigDecode, EmptyAndShortPayloadsReadAsZeros) {
  const auto d = DecodeConfig({}, false);
  for (const auto& ip : {d.local_ip, d.subnet_mask, d.gateway, d.server_ip, d.ip0_addr, d.ip1_addr})
    EXPECT_EQ(ip, Ipv4Octets{});
  for (const auto& port : {d.eth_port, d.ip0_addr_port, d.ip0_domain_port, d.ip1_port, d.lora_net_addr})
    EXPECT_EQ(port, "0");
  EXPECT_EQ(d.domain, "");
  EXPECT_EQ(d.ip0_domain, "");
  EXPECT_FALSE(d.dhcp);
  EXPECT_EQ(d.net_mode, -1);
  EXPECT_EQ(d.uart_baud, -1);
  EXPECT_EQ((std::vector<int>{d.sleep_time, d.breathe_time, d.tx_power, d.uart_parity, d.uart_mode, d.uart_map}),
            std::vector<int>(6, 0));
  EXPECT_EQ(d.lora_freq, "0.00");
  EXPECT_FALSE(d.heartbeat.has_value());
  EXPECT_FALSE(d.register_data.has_value());
  EXPECT_EQ(d.mac, "00 00 00 00 00 00 ");

  // Every prefix of a full record decodes as the prefix padded with zeros; bytes past
  // the record are ignored.
  ConfigRecord full;
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i * 7 + 1);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    ConfigRecord padded{};
    std::copy_n(full.begin(), n, padded.begin());
    const Bytes prefix(full.begin(), full.begin() + n);
    for (bool hex : {false, true})
      ASSERT_EQ(EncodeConfig(DecodeConfig(prefix, hex)), EncodeConfig(DecodeConfig(padded, hex))) << n;
  }
  Bytes longer(full.begin(), full.end());
  longer.resize(255, 0xEE);
  EXPECT_EQ(EncodeConfig(DecodeConfig(longer, true)), EncodeConfig(DecodeConfig(full, true)));
}

// Random forms as the pages produce them: valid list positions, frequencies in the
// radio's range with two decimals, any bytes in the texts but zero.
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
