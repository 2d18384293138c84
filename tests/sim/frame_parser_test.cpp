#include "frame_parser.h"

#include <gtest/gtest.h>

#include "sim/sim_test_util.h"

namespace velmora::sim {
namespace {

using namespace velmora::sim::test;

std::vector<StreamParser::Event> FeedAll(StreamParser& p, const Bytes& b, Nanos t = 0) { return p.Feed(b, t); }

const DeviceFrame& FrameOf(const StreamParser::Event& e) { return std::get<DeviceFrame>(e.parsed); }
RejectReason ReasonOf(const StreamParser::Event& e) { return std::get<Rejected>(e.parsed).reason; }

TEST(StreamParser, FindsFramesSplitAnywhereAndReportsWhereEachEnds) {
  Bytes stream = Command(0xE2);
  const Bytes clock = Command(0xEC, {0x21, 0x03, 0x09, 0x14, 0x05, 0x59});
  stream.insert(stream.end(), clock.begin(), clock.end());
  // Every split point, including one byte at a time.
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    StreamParser p;
    auto first = p.Feed(std::span(stream).first(cut), 0);
    auto second = p.Feed(std::span(stream).subspan(cut), 0);
    first.insert(first.end(), second.begin(), second.end());
    ASSERT_EQ(first.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(FrameOf(first[0]).code, 0xE2);
    EXPECT_EQ(first[0].end_position, 5u);
    EXPECT_EQ(FrameOf(first[1]).code, 0xEC);
    EXPECT_EQ(FrameOf(first[1]).payload, (Bytes{0x21, 0x03, 0x09, 0x14, 0x05, 0x59}));
    EXPECT_EQ(first[1].end_position, stream.size() - 1);
    EXPECT_EQ(p.Held(), 0u);
  }
  StreamParser bytewise;
  std::size_t found = 0;
  for (uint8_t b : stream) found += bytewise.Feed(std::span(&b, 1), 0).size();
  EXPECT_EQ(found, 2u);
}

TEST(StreamParser, PayloadBytesThatLookLikeFramingAreData) {
  // F5, 80 and 0D inside the payload, and a checksum that happens to be 0D.
  Bytes payload(221, 0x0D);
  payload[0] = 0xF5;
  payload[1] = 0x80;
  Bytes frame = Command(0xE1, payload);
  StreamParser p;
  const auto ev = FeedAll(p, frame);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(FrameOf(ev[0]).payload, payload);
  EXPECT_EQ(p.NoiseBytes(), 0u);
}

TEST(StreamParser, SkipsGarbageAndResynchronisesAfterBadFrames) {
  StreamParser p;
  Bytes bad_sum = Command(0xE2);
  bad_sum[4] ^= 0x01;
  Bytes stream = {0x00, 0x41, 0xF5, 0x01};  // noise, with a lone F5 not followed by 80
  stream.insert(stream.end(), bad_sum.begin(), bad_sum.end());
  const Bytes good = Command(0xE3);
  stream.insert(stream.end(), good.begin(), good.end());
  const auto ev = FeedAll(p, stream);
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ReasonOf(ev[0]), RejectReason::kChecksum);
  EXPECT_EQ(std::get<Rejected>(ev[0].parsed).raw, bad_sum);
  EXPECT_EQ(FrameOf(ev[1]).code, 0xE3);
  EXPECT_EQ(p.NoiseBytes(), 4u);  // the bytes of the bad frame were a candidate, not noise
}

TEST(StreamParser, AFrameStartingInsideAFalseStartIsStillFound) {
  // A false start claiming two payload bytes swallows the head of the real frame behind
  // it; it fails on its end byte, and the real frame is found inside it.
  StreamParser p;
  Bytes stream = {0xF5, 0x80, 0xE2, 0x02};
  const Bytes good = Command(0xE7);
  stream.insert(stream.end(), good.begin(), good.end());
  const auto ev = FeedAll(p, stream);
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ReasonOf(ev[0]), RejectReason::kEndByte);
  EXPECT_EQ(FrameOf(ev[1]).code, 0xE7);
}

TEST(StreamParser, FirmwareFramesUseTheirSixteenBitLength) {
  StreamParser p;
  const Bytes data = TestImage(1024, 7);
  const auto ev = FeedAll(p, FirmwareData(3, data));
  ASSERT_EQ(ev.size(), 1u);
  const auto& f = FrameOf(ev[0]);
  EXPECT_TRUE(f.firmware);
  EXPECT_EQ(f.sequence, 3);
  EXPECT_EQ(f.payload, data);
  EXPECT_EQ(ev[0].end_position, 1031u);

  // A length no firmware frame may carry is refused at once, not waited for.
  for (uint16_t n : {uint16_t{0}, uint16_t{1025}, uint16_t{0xFFFF}}) {
    StreamParser q;
    const Bytes head{0xF5, 0x80, 0xE5, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    const auto r = FeedAll(q, head);
    ASSERT_EQ(r.size(), 1u) << n;
    EXPECT_EQ(ReasonOf(r[0]), RejectReason::kLength);
    EXPECT_EQ(q.Held(), 0u);
  }
}

TEST(StreamParser, AnUnfinishedFrameIsGivenUpAfterSilenceAndWhatFollowsStillCounts) {
  StreamParser p;
  const Bytes frame = Command(0xE1, Bytes(221, 0x11));
  EXPECT_TRUE(p.Feed(std::span(frame).first(100), 1000).empty());
  ASSERT_TRUE(p.Deadline().has_value());
  EXPECT_EQ(*p.Deadline(), 1000 + StreamParser::kSilenceLimit);
  EXPECT_TRUE(p.Expire(1000 + StreamParser::kSilenceLimit - 1).empty());
  const auto ev = p.Expire(1000 + StreamParser::kSilenceLimit);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ReasonOf(ev[0]), RejectReason::kIncomplete);
  EXPECT_EQ(p.Held(), 0u);
  EXPECT_FALSE(p.Deadline().has_value());

  // The next frame starts clean.
  const auto next = p.Feed(Command(0xE2), 2'000'000'000);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(FrameOf(next[0]).code, 0xE2);
}

TEST(ParseDatagram, OneDatagramIsExactlyOneFrame) {
  const Bytes good = Command(0xEB);
  EXPECT_EQ(std::get<DeviceFrame>(ParseDatagram(good)).code, 0xEB);
  EXPECT_TRUE(std::get<DeviceFrame>(ParseDatagram(FirmwareEnd(2500, 1234))).firmware);

  Bytes two = good;
  two.insert(two.end(), good.begin(), good.end());
  Bytes short_one(good.begin(), good.end() - 1);
  Bytes bad_sum = good;
  bad_sum[4] ^= 0xFF;
  Bytes bad_end = good;
  bad_end[5] = 0x0A;
  const Bytes text = Text("OK\r\n");
  const Bytes reply_dir = Reply(0xE2);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(two)).reason, RejectReason::kLength);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(short_one)).reason, RejectReason::kLength);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(bad_sum)).reason, RejectReason::kChecksum);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(bad_end)).reason, RejectReason::kEndByte);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(text)).reason, RejectReason::kNoFrame);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(reply_dir)).reason, RejectReason::kNoFrame);
  EXPECT_EQ(std::get<Rejected>(ParseDatagram(Bytes{})).reason, RejectReason::kNoFrame);
}

}  // namespace
}  // namespace velmora::sim
