#include "firmware_receiver.h"

#include <gtest/gtest.h>

#include "sim/sim_test_util.h"

namespace velmora::sim {
namespace {

using namespace velmora::sim::test;

// Feeds `image` in chunks of `chunk` bytes with sequence numbers from 0, wrapping.
void SendImage(FirmwareReceiver& r, const Bytes& image, std::size_t chunk = 1024) {
  uint8_t seq = 0;
  for (std::size_t at = 0; at < image.size(); at += chunk, ++seq) {
    const auto part = std::span(image).subspan(at, std::min(chunk, image.size() - at));
    const FwResult res = r.Take(seq, part);
    ASSERT_EQ(res.answer, FwAnswer::kOk) << "chunk at " << at << ": " << res.detail;
    ASSERT_EQ(res.event, FwEvent::kChunkTaken);
  }
}

TEST(FirmwareReceiver, AcceptsAnImageWhoseLengthAndSumMatchAndHandsItOver) {
  Bytes kept;
  FirmwareReceiver r([&](const Bytes& image) {
    kept = image;
    return true;
  });
  const Bytes image = TestImage(2500, 1);
  SendImage(r, image);
  EXPECT_EQ(r.ImageSize(), 2500u);
  EXPECT_EQ(r.ImageSum(), Sum32(image));
  const FwResult end = r.Take(0xFF, EndPayload(2500, Sum32(image)));
  EXPECT_EQ(end.answer, FwAnswer::kYes);
  EXPECT_EQ(end.event, FwEvent::kImageAccepted);
  EXPECT_EQ(kept, image);
  EXPECT_EQ(r.AcceptedImage(), image);
  EXPECT_FALSE(r.Receiving());
}

TEST(FirmwareReceiver, RejectsAnImageWhoseLengthOrSumDiffers) {
  const Bytes image = TestImage(3000, 2);
  struct Case {
    uint32_t length, sum;
  } cases[] = {{2999, Sum32(image)}, {3001, Sum32(image)}, {3000, Sum32(image) + 1}, {3000, 0}};
  for (const auto& c : cases) {
    bool handed_over = false;
    FirmwareReceiver r([&](const Bytes&) { return handed_over = true; });
    SendImage(r, image);
    const FwResult end = r.Take(0xFF, EndPayload(c.length, c.sum));
    EXPECT_EQ(end.answer, FwAnswer::kXerr) << c.length << " " << c.sum;
    EXPECT_EQ(end.event, FwEvent::kImageRejected);
    EXPECT_FALSE(handed_over);
    EXPECT_TRUE(r.AcceptedImage().empty());
  }
}

TEST(FirmwareReceiver, AResentFrameIsAcknowledgedAgainWithoutAddingItsBytesTwice) {
  FirmwareReceiver r;
  const Bytes a = TestImage(1024, 3), b = TestImage(100, 4);
  ASSERT_EQ(r.Take(0, a).answer, FwAnswer::kOk);
  // The "OK" for frame 0 was lost: the tool sends frame 0 again, unchanged.
  const FwResult again = r.Take(0, a);
  EXPECT_EQ(again.answer, FwAnswer::kOk);
  EXPECT_EQ(again.event, FwEvent::kChunkRepeated);
  EXPECT_EQ(r.ImageSize(), 1024u);
  EXPECT_EQ(r.ExpectedSequence(), 1);
  ASSERT_EQ(r.Take(1, b).answer, FwAnswer::kOk);
  EXPECT_EQ(r.Take(1, b).event, FwEvent::kChunkRepeated);
  Bytes image = a;
  image.insert(image.end(), b.begin(), b.end());
  EXPECT_EQ(r.Take(0xFF, EndPayload(1124, Sum32(image))).answer, FwAnswer::kYes);
  EXPECT_EQ(r.AcceptedImage(), image);
}

TEST(FirmwareReceiver, FramesOutOfOrderAreNotAcknowledged) {
  FirmwareReceiver r;
  // Nothing begun: only a first frame starts an image.
  EXPECT_EQ(r.Take(5, TestImage(10, 1)).answer, FwAnswer::kNone);
  EXPECT_FALSE(r.Receiving());
  ASSERT_EQ(r.Take(0, TestImage(1024, 1)).answer, FwAnswer::kOk);
  const FwResult skip = r.Take(2, TestImage(1024, 2));
  EXPECT_EQ(skip.answer, FwAnswer::kNone);
  EXPECT_EQ(skip.event, FwEvent::kOutOfSequence);
  // Same number as the last frame, other bytes: not a resend.
  EXPECT_EQ(r.Take(0, TestImage(1024, 9)).event, FwEvent::kRestarted);
  EXPECT_EQ(r.ImageSize(), 1024u);
  EXPECT_EQ(r.Take(7, TestImage(1024, 2)).answer, FwAnswer::kNone);
  EXPECT_EQ(r.ImageSize(), 1024u);
  EXPECT_EQ(r.ExpectedSequence(), 1);
}

TEST(FirmwareReceiver, AFirstFrameMidwayStartsTheImageAgain) {
  FirmwareReceiver r;
  SendImage(r, TestImage(5000, 5));
  const Bytes fresh = TestImage(1500, 6);
  EXPECT_EQ(r.Take(0, std::span(fresh).first(1024)).event, FwEvent::kRestarted);
  EXPECT_EQ(r.Take(1, std::span(fresh).subspan(1024)).answer, FwAnswer::kOk);
  EXPECT_EQ(r.Take(0xFF, EndPayload(1500, Sum32(fresh))).answer, FwAnswer::kYes);
  EXPECT_EQ(r.AcceptedImage(), fresh);
}

TEST(FirmwareReceiver, SequenceWrapsAfter255) {
  // 300 frames: sequence 0..255, then 0..43 again; 0 after the wrap is the next frame,
  // not a restart.
  FirmwareReceiver r;
  const Bytes image = TestImage(300 * 16, 7);
  SendImage(r, image, 16);
  EXPECT_EQ(r.ImageSize(), image.size());
  EXPECT_EQ(r.Take(0xFF, EndPayload(static_cast<uint32_t>(image.size()), Sum32(image))).answer, FwAnswer::kYes);
}

TEST(FirmwareReceiver, DataFrame255OfEightBytesIsToldApartFromTheEndFrame) {
  // Data frame 255 carrying 8 bytes has the end frame's layout (sequence FF, length 8).
  // 255 full chunks then 8 bytes: the 8-byte frame is data.
  {
    FirmwareReceiver r;
    const Bytes image = TestImage(255 * 1024 + 8, 8);
    SendImage(r, image);
    EXPECT_EQ(r.ImageSize(), image.size());
    // Its resend is still data, acknowledged without adding.
    const FwResult again = r.Take(0xFF, std::span(image).last(8));
    EXPECT_EQ(again.event, FwEvent::kChunkRepeated);
    EXPECT_EQ(r.Take(0xFF, EndPayload(static_cast<uint32_t>(image.size()), Sum32(image))).answer, FwAnswer::kYes);
    EXPECT_EQ(r.AcceptedImage(), image);
  }
  // 255 chunks exactly: the end frame comes when frame 255 is expected, and is one.
  {
    FirmwareReceiver r;
    const Bytes image = TestImage(255 * 1024, 9);
    SendImage(r, image);
    EXPECT_EQ(r.ExpectedSequence(), 0xFF);
    EXPECT_EQ(r.Take(0xFF, EndPayload(static_cast<uint32_t>(image.size()), Sum32(image))).answer, FwAnswer::kYes);
  }
}

TEST(FirmwareReceiver, AResentEndFrameGetsTheSameAnswerAndTheImageIsKeptOnce) {
  int handed_over = 0;
  FirmwareReceiver r([&](const Bytes&) {
    ++handed_over;
    return true;
  });
  const Bytes image = TestImage(700, 10);
  SendImage(r, image);
  const Bytes end = EndPayload(700, Sum32(image));
  EXPECT_EQ(r.Take(0xFF, end).answer, FwAnswer::kYes);
  const FwResult again = r.Take(0xFF, end);  // the "YES" was lost
  EXPECT_EQ(again.answer, FwAnswer::kYes);
  EXPECT_EQ(again.event, FwEvent::kEndRepeated);
  EXPECT_EQ(handed_over, 1);
  // Another end frame with nothing collected is refused.
  EXPECT_EQ(r.Take(0xFF, EndPayload(1, 1)).event, FwEvent::kEndWithoutImage);
  EXPECT_EQ(r.Take(0xFF, EndPayload(1, 1)).answer, FwAnswer::kXerr);
  // A reset forgets the answer given.
  r.Reset();
  EXPECT_EQ(r.Take(0xFF, end).answer, FwAnswer::kXerr);
}

TEST(FirmwareReceiver, AnImageThatCannotBeKeptOrIsToldToFailIsRefused) {
  const Bytes image = TestImage(100, 11);
  FirmwareReceiver cannot_keep([](const Bytes&) { return false; });
  SendImage(cannot_keep, image);
  EXPECT_EQ(cannot_keep.Take(0xFF, EndPayload(100, Sum32(image))).answer, FwAnswer::kXerr);
  EXPECT_TRUE(cannot_keep.AcceptedImage().empty());

  FirmwareReceiver told;
  told.SetFailEnd(true);
  SendImage(told, image);
  EXPECT_EQ(told.Take(0xFF, EndPayload(100, Sum32(image))).answer, FwAnswer::kXerr);
}

}  // namespace
}  // namespace velmora::sim
