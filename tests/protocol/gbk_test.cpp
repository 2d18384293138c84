#include "protocol/gbk.h"
#include "protocol/gbk_bytes.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

const QString kMixed = QString::fromUtf8("MQTT三元组信息:ab设备");

TEST(Gbk, ChineseRoundTripsAndTakesTwoBytesPerCharacter) {
  // 读 is B6 C1 and 取 is C8 A1 in GBK.
  EXPECT_EQ(ToGbk(QString::fromUtf8("读取")), std::string("\xB6\xC1\xC8\xA1"));
  EXPECT_EQ(FromGbk(std::string("\xB6\xC1\xC8\xA1")), QString::fromUtf8("读取"));
  EXPECT_EQ(FromGbk(ToGbk(kMixed)), kMixed);
  EXPECT_EQ(GbkLength(QString::fromUtf8("以太网")), 6u);
  EXPECT_EQ(GbkLength(kMixed), 4u + 5 * 2 + 1 + 2 + 2 * 2);
  EXPECT_EQ(ToGbk(QString()), "");
  EXPECT_EQ(FromGbk(std::string()), QString());
}

TEST(Gbk, HalfACharacterAtTheEndIsShownNotDropped) {
  // A device field may end inside a character; the engineer must see that something is there.
  EXPECT_EQ(FromGbk(std::string("a\xD0")), QString::fromUtf8("a\uFFFD"));
  EXPECT_EQ(FromGbk(std::string("\xD0\xC4\xD0")), QString::fromUtf8("心\uFFFD"));
  EXPECT_EQ(FromGbk(std::string("ab\0c", 4)), QString::fromUtf8("ab\0c", 4));
}

TEST(Gbk, TruncationNeverSplitsACharacter) {
  const QString t = QString::fromUtf8("a心跳");
  EXPECT_EQ(TruncateToGbkBytes(t, 5), t);
  EXPECT_EQ(TruncateToGbkBytes(t, 4), QString::fromUtf8("a心"));
  EXPECT_EQ(TruncateToGbkBytes(t, 2), QString::fromUtf8("a"));
  EXPECT_EQ(TruncateToGbkBytes(t, 0), QString());

  // The byte-level cut used by the record codecs agrees at every limit.
  const std::string bytes = ToGbk(kMixed);
  for (std::size_t max = 0; max <= bytes.size() + 1; ++max) {
    const QString cut = TruncateToGbkBytes(kMixed, max);
    EXPECT_LE(GbkLength(cut), max);
    EXPECT_EQ(GbkFitLength(bytes, max), GbkLength(cut)) << max;
    EXPECT_TRUE(kMixed.startsWith(cut));
  }
}

}  // namespace
}  // namespace velmora
