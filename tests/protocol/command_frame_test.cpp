#include "protocol/command_frame.h"
#include "protocol/hex_string.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <numeric>

namespace velmora {
namespace {

std::vector<uint8_t> Frame(uint8_t code, std::vector<uint8_t> payload = {}) {
  auto f = BuildCommandFrame(code, payload);
  EXPECT_TRUE(f.has_value());
  return f.value_or(std::vector<uint8_t>{});
}

TEST(CommandFrame, EmptyPayloadFramesAndChecksumWrap) {
  EXPECT_EQ(Frame(cmd::kReadConfig), (std::vector<uint8_t>{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D}));
  // F5 + 80 + EB + 00 = 0x260: only the low byte is kept.
  EXPECT_EQ(Frame(cmd::kReadCsq), (std::vector<uint8_t>{0xF5, 0x80, 0xEB, 0x00, 0x60, 0x0D}));
  EXPECT_EQ(Frame(cmd::kReadVersion), (std::vector<uint8_t>{0xF5, 0x80, 0xE3, 0x00, 0x58, 0x0D}));
}

TEST(CommandFrame, PayloadIsCopiedUnescapedAndSummed) {
  const std::vector<uint8_t> payload{0x0D, 0xF5, 0x00, 0xFF};
  const auto f = Frame(0xE1, payload);
  ASSERT_EQ(f.size(), 10u);
  EXPECT_EQ(f[3], 4);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 4, f.begin() + 8), payload);
  const unsigned sum = std::accumulate(f.begin(), f.begin() + 8, 0u);
  EXPECT_EQ(f[8], sum & 0xFF);
  EXPECT_EQ(f[9], 0x0D);
}

TEST(CommandFrame, RecordSizedPayloadsAndTheLimit) {
  EXPECT_EQ(Frame(0xE1, std::vector<uint8_t>(221, 0x11)).size(), 227u);
  EXPECT_EQ(Frame(0xE1, std::vector<uint8_t>(221, 0x11))[3], 0xDD);
  EXPECT_EQ(Frame(0xE6, std::vector<uint8_t>(129, 0x22))[3], 0x81);
  EXPECT_EQ(Frame(0xE6, std::vector<uint8_t>(255, 0x22)).size(), 261u);
  EXPECT_FALSE(BuildCommandFrame(0xE1, std::vector<uint8_t>(256, 0)).has_value());
}

TEST(ReplyFrame, LaidOutLikeACommandWithTheDirectionByteZero) {
  const std::vector<uint8_t> ok{'O', 'K'};
  // F5 + 00 + E5 + 02 + 4F + 4B = 0x276.
  EXPECT_EQ(BuildReplyFrame(cmd::kFirmware, ok),
            (std::vector<uint8_t>{0xF5, 0x00, 0xE5, 0x02, 0x4F, 0x4B, 0x76, 0x0D}));
  EXPECT_EQ(BuildReplyFrame(0xE4, {}), (std::vector<uint8_t>{0xF5, 0x00, 0xE4, 0x00, 0xD9, 0x0D}));
  EXPECT_EQ(BuildReplyFrame(0xE2, std::vector<uint8_t>(255, 0))->size(), 261u);
  EXPECT_FALSE(BuildReplyFrame(0xE2, std::vector<uint8_t>(256, 0)).has_value());
}

TEST(HexText, UppercasePairsEachFollowedBySpaceThenCrLf) {
  const std::vector<uint8_t> f{0xF5, 0x80, 0xE2, 0x00, 0x57, 0x0D};
  const QString t = HexText(f);
  EXPECT_EQ(t, QString("F5 80 E2 00 57 0D \r\n"));
  EXPECT_EQ(t.size(), 18 + 2);
  EXPECT_EQ(HexText({}), QString("\r\n"));
  const std::vector<uint8_t> lower{0xab, 0x0c};
  EXPECT_EQ(HexText(lower), QString("AB 0C \r\n"));
}

// The one formatter behind the log, the form's MAC and packet boxes, the simulator's log
// and its state file.
TEST(HexString, SeparatorBetweenAfterEachOrNone) {
  const std::vector<uint8_t> b{0xF5, 0x80, 0x0d, 0x00};
  EXPECT_EQ(HexString(b), "F5 80 0D 00");
  EXPECT_EQ(HexString(b, " ", HexSeparator::kAfterEach), "F5 80 0D 00 ");
  EXPECT_EQ(HexString(b, ""), "F5800D00");
  EXPECT_EQ(HexString({}), "");
  EXPECT_EQ(HexString({}, " ", HexSeparator::kAfterEach), "");
}

TEST(ClockPayload, PackedBcdFromLocalTime) {
  const auto p = ClockPayload(LocalTime{2021, 3, 9, 14, 5, 59, 7});
  EXPECT_EQ(p, (std::array<uint8_t, 6>{0x21, 0x03, 0x09, 0x14, 0x05, 0x59}));
  const auto f = Frame(cmd::kSyncClock, std::vector<uint8_t>(p.begin(), p.end()));
  EXPECT_EQ(f, (std::vector<uint8_t>{0xF5, 0x80, 0xEC, 0x06, 0x21, 0x03, 0x09, 0x14, 0x05, 0x59, 0x06, 0x0D}));
  EXPECT_EQ(ClockPayload(LocalTime{2099, 12, 31, 23, 59, 59, 999}),
            (std::array<uint8_t, 6>{0x99, 0x12, 0x31, 0x23, 0x59, 0x59}));
  EXPECT_EQ(ClockPayload(LocalTime{2026, 12, 8, 6, 19, 23, 0}),
            (std::array<uint8_t, 6>{0x26, 0x12, 0x08, 0x06, 0x19, 0x23}));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(LocalClock, AgreesWithQtsLocalTime) {
  const QDateTime before = QDateTime::currentDateTime();
  const LocalTime t = CurrentLocalTime();
  const QDateTime after = QDateTime::currentDateTime();
  const QDateTime got(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, t.msec));
  EXPECT_GE(got, before.addMSecs(-1));
  EXPECT_LE(got, after.addMSecs(1));
}

}  // namespace
}  // namespace velmora
