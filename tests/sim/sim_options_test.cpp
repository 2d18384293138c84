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
}

}  // namespace
}  // namespace velmora::sim
