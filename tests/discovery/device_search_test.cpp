#include "discovery/device_search.h"

#include <gtest/gtest.h>

#include "config/config_defaults.h"
#include "protocol/command_frame.h"
#include "support/frames.h"

namespace velmora {
namespace {

using test::Bytes;
using test::Reply;

Bytes ConfigReply(Ipv4Octets ip, const char* mac, bool dhcp = false) {
  ConfigForm f = DefaultConfigForm();
  f.local_ip = ip;
  f.mac = mac;
  f.dhcp = dhcp;
  const ConfigRecord r = EncodeConfig(f);
  return Reply(cmd::kReadConfig, Bytes(r.begin(), r.end()));
}

PeerAddress At(uint8_t host) { return PeerAddress{0xC0000200u | host, 21}; }

TEST(DeviceSearch, EachSenderOnceSortedByAddressWithClonedIdentitiesMarked) {
  DeviceSearch s;
  // .30 answers only the version query; .12 and .20 carry the same MAC; .11 shares .20's
  // local IP but takes its address by DHCP, so that IP is not in use: no conflict.
  EXPECT_TRUE(s.Offer(At(30), Reply(cmd::kReadVersion, test::Text("V3"))));
  EXPECT_TRUE(s.Offer(At(20), ConfigReply({192, 0, 2, 20}, "02:00:00:00:00:AA")));
  EXPECT_TRUE(s.Offer(At(12), ConfigReply({192, 0, 2, 12}, "02-00-00-00-00-aa")));
  EXPECT_TRUE(s.Offer(At(11), ConfigReply({192, 0, 2, 20}, "", true)));
  EXPECT_TRUE(s.Offer(At(20), Reply(cmd::kReadVersion, test::Text("V2"))));
  EXPECT_TRUE(s.Offer(At(20), Reply(cmd::kReadVersion, test::Text("V2"))));  // an echo: still one device
  // Not answers to the search: left to the caller.
  EXPECT_FALSE(s.Offer(At(40), Reply(cmd::kReadCsq, {17})));
  EXPECT_FALSE(s.Offer(At(41), test::Text("hello")));
  EXPECT_FALSE(s.Offer(At(42), test::Command(cmd::kReadVersion)));

  const auto found = s.Devices();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].Address(), QStringLiteral("192.0.2.11"));
  EXPECT_EQ(found[1].Address(), QStringLiteral("192.0.2.12"));
  EXPECT_EQ(found[2].Address(), QStringLiteral("192.0.2.20"));
  EXPECT_EQ(found[3].Address(), QStringLiteral("192.0.2.30"));
  EXPECT_FALSE(found[0].conflict);
  EXPECT_TRUE(found[1].conflict);
  EXPECT_TRUE(found[2].conflict);
  EXPECT_FALSE(found[3].conflict);
  EXPECT_EQ(found[2].version, QStringLiteral("V2"));
  EXPECT_EQ(found[2].Mac(), QStringLiteral("02:00:00:00:00:AA"));
  EXPECT_EQ(found[2].LocalIp(), QStringLiteral("192.0.2.20"));
  EXPECT_TRUE(found[0].Mac().isEmpty());
  EXPECT_FALSE(found[3].config);
}

TEST(DeviceSearch, TheSameStaticAddressOnTwoDevicesIsAConflictAndTheQueriesAreTheTwoReads) {
  DeviceSearch s;
  s.Offer(At(5), ConfigReply({10, 0, 0, 7}, ""));
  s.Offer(At(6), ConfigReply({10, 0, 0, 7}, "00:00:00:00:00:00"));
  const auto found = s.Devices();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[0].conflict && found[1].conflict);
  const auto frames = DeviceSearch::QueryFrames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], test::Command(cmd::kReadVersion));
  EXPECT_EQ(frames[1], test::Command(cmd::kReadConfig));
}

}  // namespace
}  // namespace velmora
