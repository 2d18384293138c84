#include "discovery/device_search.h"

#include <gtest/gtest.h>

#include "config/config_defaults.h"
#include "protocol/command_frame.h"
#include "support/frames.h"
#include "support/udp_test_port.h"
#include "support/wait.h"
#include "transport/udp_hub.h"

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

// 128 devices answer a broadcast within a few milliseconds, while the tool may not get
// the processor for longer: every answer must still be waiting for it when it does.
TEST(DeviceSearch, OnTheToolsPortEveryAnswerOfABusyMomentIsKept) {
  constexpr int kDevices = 128;
  UdpHub hub(test::FreeUdpPort());
  QString error;
  ASSERT_TRUE(hub.Open(&error)) << error.toStdString();
  DeviceSearch search;
  hub.SetStrangerHandler([&search](const PeerAddress& from, std::span<const uint8_t> d) { return search.Offer(from, d); });

  // Each device a socket of its own (the search tells devices apart by address and
  // port); all of them answer before the tool's event loop runs again.
  const test::ManySenders devices(kDevices, hub.LocalPort(),
                                  {Reply(cmd::kReadVersion, test::Text("V1")), ConfigReply({192, 0, 2, 1}, "", true)});
  ASSERT_EQ(devices.Sent(), 2 * kDevices);
  const auto complete = [&] {
    const auto found = search.Devices();
    return found.size() == kDevices &&
           std::all_of(found.begin(), found.end(), [](const FoundDevice& d) { return d.version && d.config; });
  };
  test::WaitUntil(complete, std::chrono::milliseconds(2000));
  const auto found = search.Devices();
  EXPECT_EQ(found.size(), static_cast<std::size_t>(kDevices));
  EXPECT_EQ(std::count_if(found.begin(), found.end(), [](const FoundDevice& d) { return d.version && d.config; }), kDevices);
  EXPECT_EQ(hub.Ignored(), 0u);
}

}  // namespace
}  // namespace velmora
