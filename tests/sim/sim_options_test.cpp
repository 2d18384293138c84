#include "sim_options.h"

#include <gtest/gtest.h>

namespace velmora::sim {
namespace {

ParsedOptions Parse(QStringList args) {
  args.prepend(QStringLiteral("velmora-sim"));
  return ParseSimOptions(args);
}

TEST(SimOptions, DefaultsAreAPseudoTerminalAndLoopbackPort21) {
  const auto p = Parse({});
  ASSERT_TRUE(p.options) << p.error.toStdString();
  EXPECT_TRUE(p.options->serial);
  EXPECT_TRUE(p.options->serial_path.isEmpty());
  EXPECT_EQ(p.options->baud, 0);
  EXPECT_TRUE(p.options->udp);
  EXPECT_EQ(p.options->udp_address, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(p.options->udp_port, 21);
  EXPECT_EQ(p.options->device.drop_every, 0);
  EXPECT_FALSE(p.options->device.silent);
}

TEST(SimOptions, EveryOptionReachesItsField) {
  const auto p = Parse({"--link", "/tmp/x", "--baud", "115200", "--udp-address", "::1", "--udp-port", "2021",
                        "--state", "s.txt", "--image-out", "i.bin", "--version", "V1", "--csq", "0", "--delay-ms",
                        "15", "--drop-every", "3", "--xerr-end", "--silent", "--interleave-text", "4"});
  ASSERT_TRUE(p.options) << p.error.toStdString();
  const SimOptions& o = *p.options;
  EXPECT_EQ(o.link_path, QStringLiteral("/tmp/x"));
  EXPECT_EQ(o.baud, 115200);
  EXPECT_EQ(o.udp_address, QStringLiteral("::1"));
  EXPECT_EQ(o.udp_port, 2021);
  EXPECT_EQ(o.device.state_path, QStringLiteral("s.txt"));
  EXPECT_EQ(o.device.image_path, QStringLiteral("i.bin"));
  EXPECT_EQ(o.device.version, "V1");
  EXPECT_EQ(o.device.csq, 0);
  EXPECT_EQ(o.delay_ms, 15);
  EXPECT_EQ(o.device.drop_every, 3);
  EXPECT_TRUE(o.device.xerr_end);
  EXPECT_TRUE(o.device.silent);
  EXPECT_EQ(o.device.interleave_every, 4);
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
      {"--bogus"},
      {"stray"},
  };
  for (const QStringList& args : bad) {
    const auto p = Parse(args);
    EXPECT_FALSE(p.options) << args.join(' ').toStdString();
    EXPECT_FALSE(p.error.isEmpty()) << args.join(' ').toStdString();
  }
  EXPECT_TRUE(Parse({"--help"}).help);
}

}  // namespace
}  // namespace velmora::sim
