#include "sim_options.h"

#include <gtest/gtest.h>

namespace velmora::sim {
namespace {

ParsedOptions Parse(QStringList args) {
  args.prepend(QStringLiteral("velmora-sim"));
  return ParseSimOptions(args);
}

TEST(SimOptions, NonsenseIsRefusedWithAReason) {
  const QStringList bad[] = {
      {"--no-serial", "--no-udp"},
      {"--serial", "/dev/ttyS0", "--link", "/tmp/x"},
      {"--no-serial", "--baud", "9600"},
      {"--no-udp", "--udp-port", "2021"},
      {"--baud", "0"},
      {"--baud", "fast"},
      {"--udp-port", "70000"},
      {"--udp-address", "localhost.example"},
      {"--csq", "256"},
      {"--drop-every", "0"},
      {"--delay-ms", "-1"},
      {"--interleave-text", "0"},
      {"--version", QString(256, QLatin1Char('v'))},
      {"--version-after-upgrade", QString(256, QLatin1Char('v'))},
      {"--restart-ms", "-5"},
      {"--xerr-end", "--ok-end"},
      {"--mac", "02:00:00:00:00"},
      {"--mac", "02:00:00:00:00:0G"},
      {"--mac", "02:00:00:00:00:0B:01"},
      {"--mac", "2:00:00:00:00:0B"},
      {"--local-ip", "192.0.2"},
      {"--local-ip", "192.0.2.256"},
      {"--local-ip", "192.0.2.+1"},
      {"--local-ip", "10.1"},
      {"--bogus"},
      {"stray"},
  };
  for (const QStringList& args : bad) {
    const auto p = Parse(args);
    EXPECT_FALSE(p.options) << args.join(' ').toStdString();
    EXPECT_FALSE(p.error.isEmpty()) << args.join(' ').toStdString();
  }
  EXPECT_TRUE(Parse({"--help"}).help);
  // The version text travels as the tool reads device texts: GBK.
  const auto v = Parse({"--version", QString::fromUtf8("固件V1")});
  ASSERT_TRUE(v.options);
  EXPECT_EQ(v.options->device.version, "\xB9\xCC\xBC\xFEV1");

  const auto lan = Parse({"--no-serial", "--udp-address", "0.0.0.0", "--mac", "02:1a:2B:3c:4D:5e", "--local-ip",
                          "192.0.2.10", "--version-after-upgrade", QString::fromUtf8("固件V2"), "--restart-ms",
                          "1500", "--ok-end"});
  ASSERT_TRUE(lan.options) << lan.error.toStdString();
  const DeviceOptions& d = lan.options->device;
  EXPECT_EQ(d.mac, (MacBytes{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(d.local_ip, (Ipv4Octets{192, 0, 2, 10}));
  EXPECT_EQ(d.version_after_upgrade, "\xB9\xCC\xBC\xFEV2");
  EXPECT_EQ(d.restart, 1500 * kMilli);
  EXPECT_TRUE(d.ok_end);
  EXPECT_EQ(lan.options->udp_address, QStringLiteral("0.0.0.0"));
  // Left out, nothing changes at power-on.
  const auto plain = Parse({});
  ASSERT_TRUE(plain.options);
  EXPECT_FALSE(plain.options->device.mac || plain.options->device.local_ip ||
               plain.options->device.version_after_upgrade);
}

}  // namespace
}  // namespace velmora::sim
