#include "fota/firmware_transfer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <vector>

#include "protocol/command_frame.h"
#include "protocol/receive_pump.h"
#include "protocol/receive_state.h"
#include "support/frames.h"

namespace velmora {
namespace {

using test::Bytes;
using test::TestImage;

struct Sent {
  uint8_t link;
  Bytes bytes;
};

class FirmwareTransferTest : public ::testing::Test {
 protected:
  QString MakeFile(const QString& name, const Bytes& content) {
    const QString path = dir_.filePath(name);
    EXPECT_TRUE(test::WriteBytes(path, content));
    return path;
  }

  FotaOutcome Reply(const std::string& text, Link link = Link::Udp, uint8_t code = cmd::kFirmware) {
    const Bytes b = test::Reply(code, test::Text(text));
    return engine_.HandleReply(ReplyFrame{link, b});
  }

  // Answers "OK" until the end frame has gone out; returns the number of replies given.
  int AcknowledgeToEnd() {
    int replies = 0;
    FotaOutcome o;
    do {
      o = Reply("OK");
      ++replies;
    } while (o == FotaOutcome::kDataFrameSent);
    EXPECT_EQ(o, FotaOutcome::kEndFrameSent);
    return replies;
  }

  FotaOutcome TickTimes(int n) {
    FotaOutcome last = FotaOutcome::kNone;
    for (int i = 0; i < n; ++i) {
      last = engine_.Tick();
      if (i + 1 < n) {
        EXPECT_EQ(last, FotaOutcome::kNone) << "tick " << i + 1;
      }
    }
    return last;
  }

  static void ExpectDataFrame(const Bytes& f, uint8_t seq, std::span<const uint8_t> data) {
    ASSERT_EQ(f.size(), data.size() + 8);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{0xF5, 0x80, 0xE5, seq}));
    EXPECT_EQ(f[4], data.size() >> 8);
    EXPECT_EQ(f[5], data.size() & 0xFF);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), f.begin() + 6));
    EXPECT_EQ(f[f.size() - 2], Checksum8(std::span(f).first(f.size() - 2)));
    EXPECT_EQ(f.back(), 0x0D);
  }

  static void ExpectEndFrame(const Bytes& f, uint32_t length, uint32_t sum) {
    ASSERT_EQ(f.size(), 16u);
    const Bytes head{0xF5, 0x80, 0xE5, 0xFF, 0x00, 0x08,
                     uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                     uint8_t(sum >> 24),    uint8_t(sum >> 16),    uint8_t(sum >> 8),    uint8_t(sum)};
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 14), head);
    EXPECT_EQ(f[14], Checksum8(head));
    EXPECT_EQ(f[15], 0x0D);
  }

  QTemporaryDir dir_;
  std::vector<Sent> sent_;
  FirmwareTransfer engine_{[this](std::span<const uint8_t> b) { sent_.push_back({1, Bytes(b.begin(), b.end())}); },
                           [this](std::span<const uint8_t> b) { sent_.push_back({2, Bytes(b.begin(), b.end())}); }};
};

TEST_F(FirmwareTransferTest, TwoAndAHalfKilobytesMakeThreeFramesThenTheEndFrame) {
  const Bytes data = TestImage(2500);
  const QString path = MakeFile("fw.bin", data);
  ASSERT_EQ(engine_.ChooseFile(path), FotaOutcome::kFileChosen);
  EXPECT_EQ(engine_.File().name, QString("fw.bin"));
  EXPECT_EQ(engine_.File().length, 2500u);

  ASSERT_EQ(engine_.Start(path, Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(engine_.ProgressPosition(), 1);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kDataFrameSent);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kDataFrameSent);
  EXPECT_EQ(engine_.ProgressPosition(), 3);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameSent);
  EXPECT_EQ(engine_.ProgressPosition(), 3);

  ASSERT_EQ(sent_.size(), 4u);
  ExpectDataFrame(sent_[0].bytes, 0, std::span(data).subspan(0, 1024));
  ExpectDataFrame(sent_[1].bytes, 1, std::span(data).subspan(1024, 1024));
  ExpectDataFrame(sent_[2].bytes, 2, std::span(data).subspan(2048));
  EXPECT_EQ(sent_[2].bytes.size(), 460u);
  ExpectEndFrame(sent_[3].bytes, 2500, test::Sum32(data));
  EXPECT_EQ(Bytes(sent_[3].bytes.begin() + 6, sent_[3].bytes.begin() + 10), (Bytes{0x00, 0x00, 0x09, 0xC4}));

  EXPECT_EQ(Reply("YES"), FotaOutcome::kAccepted);
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_FALSE(engine_.Awaiting());
  TickTimes(700);
  EXPECT_EQ(sent_.size(), 4u);
}

TEST_F(FirmwareTransferTest, OneMebibyteWrapsTheSequenceAndEndsWithAFullFrame) {
  const Bytes data = TestImage(1 << 20);
  const QString path = MakeFile("image.bin", data);
  ASSERT_EQ(engine_.ChooseFile(path), FotaOutcome::kFileChosen);
  EXPECT_EQ(engine_.File().length, 1u << 20);

  ASSERT_EQ(engine_.Start(path, Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(AcknowledgeToEnd(), 1024);
  ASSERT_EQ(sent_.size(), 1025u);
  for (std::size_t i = 0; i < 1024; ++i) ASSERT_EQ(sent_[i].bytes.size(), 1032u) << i;
  ExpectDataFrame(sent_[255].bytes, 0xFF, std::span(data).subspan(255 * 1024, 1024));
  ExpectDataFrame(sent_[256].bytes, 0x00, std::span(data).subspan(256 * 1024, 1024));
  ExpectDataFrame(sent_[1023].bytes, 0xFF, std::span(data).subspan(1023 * 1024));
  ExpectEndFrame(sent_[1024].bytes, 1 << 20, test::Sum32(data));
  EXPECT_EQ(engine_.ProgressPosition(), 1024);
}

TEST_F(FirmwareTransferTest, EmptyFileOrEmptyPathSendsNothing) {
  EXPECT_EQ(engine_.Start(QString(), Link::Udp), FotaOutcome::kEmptyPath);

  EXPECT_EQ(engine_.Start(MakeFile("empty.bin", {}), Link::Udp), FotaOutcome::kEmptyFile);
  EXPECT_FALSE(engine_.Awaiting());
  TickTimes(700);
  // No end frame for nothing: an "OK" now finds no transfer.
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(FirmwareTransferTest, SilentDeviceGetsOneResendThenTimesOut) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(3000)), Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(TickTimes(300), FotaOutcome::kResent);
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[1].bytes, sent_[0].bytes);
  EXPECT_EQ(engine_.TickCount(), 0);
  EXPECT_FALSE(engine_.RetryPending());

  EXPECT_EQ(TickTimes(300), FotaOutcome::kTimedOut);
  EXPECT_FALSE(engine_.IsOpen());
  TickTimes(700);
  // A late "OK" must not read the closed file or send.
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
  EXPECT_EQ(sent_.size(), 2u);
}

TEST_F(FirmwareTransferTest, OkAfterResendSendsTheNextFrameAndRearmsTheResend) {
  const Bytes data = TestImage(3000);
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", data), Link::Udp), FotaOutcome::kStarted);
  TickTimes(300);
  ASSERT_EQ(Reply("OK"), FotaOutcome::kDataFrameSent);
  EXPECT_TRUE(engine_.RetryPending());
  EXPECT_EQ(TickTimes(300), FotaOutcome::kResent);
  ASSERT_EQ(sent_.size(), 4u);
  ExpectDataFrame(sent_[2].bytes, 1, std::span(data).subspan(1024, 1024));
  EXPECT_EQ(sent_[3].bytes, sent_[2].bytes);
  // The resend adds nothing to the running sum.
  EXPECT_EQ(engine_.RunningSum(), test::Sum32(std::span(data).first(2048)));
}

TEST_F(FirmwareTransferTest, OtherRepliesAreIgnoredAndTheTimerGoesOn) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(3000)), Link::Udp), FotaOutcome::kStarted);
  TickTimes(100);
  EXPECT_EQ(Reply("BUSY"), FotaOutcome::kNone);
  EXPECT_EQ(Reply("O"), FotaOutcome::kNone);
  EXPECT_EQ(Reply("OK", Link::Udp, cmd::kReadVersion), FotaOutcome::kNone);
  const Bytes truncated{0xF5, 0x00, 0xE5};
  EXPECT_EQ(engine_.HandleReply(ReplyFrame{Link::Udp, truncated}), FotaOutcome::kNone);
  EXPECT_EQ(engine_.TickCount(), 100);
  EXPECT_EQ(sent_.size(), 1u);
}

TEST_F(FirmwareTransferTest, StopEndsTheTransferButALateVerdictIsStillReported) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(5000)), Link::Udp), FotaOutcome::kStarted);
  ASSERT_EQ(Reply("OK"), FotaOutcome::kDataFrameSent);
  EXPECT_EQ(engine_.Stop(), FotaOutcome::kStopped);
  EXPECT_EQ(engine_.ProgressPosition(), 0);
  EXPECT_EQ(engine_.Sequence(), 0);
  EXPECT_FALSE(engine_.IsOpen());
  TickTimes(1000);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(Reply("XERR"), FotaOutcome::kCheckFailed);
  EXPECT_EQ(engine_.Stop(), FotaOutcome::kStopped);  // also with nothing running
}

TEST_F(FirmwareTransferTest, OkToTheEndFrameSendsTheSameEndFrameAgain) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(1500)), Link::Udp), FotaOutcome::kStarted);
  AcknowledgeToEnd();
  const Bytes end = sent_.back().bytes;
  EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameSent);
  EXPECT_EQ(sent_.back().bytes, end);
  EXPECT_EQ(engine_.ProgressPosition(), 2);
  EXPECT_EQ(Reply("XERR"), FotaOutcome::kCheckFailed);
}

TEST_F(FirmwareTransferTest, TheLinkIsCapturedAtStartAndOnlyItsRepliesCount) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(3000)), Link::Serial), FotaOutcome::kStarted);
  // An "OK" over the other link is not the device being upgraded answering.
  EXPECT_EQ(Reply("OK", Link::Udp), FotaOutcome::kNone);
  EXPECT_EQ(Reply("YES", Link::Udp), FotaOutcome::kNone);
  EXPECT_TRUE(engine_.Awaiting());
  EXPECT_EQ(TickTimes(300), FotaOutcome::kResent);
  EXPECT_EQ(Reply("OK", Link::Serial), FotaOutcome::kDataFrameSent);
  ASSERT_EQ(sent_.size(), 3u);
  for (const Sent& s : sent_) EXPECT_EQ(s.link, 1) << "every frame over the link of the start";
  EXPECT_EQ(sent_[1].bytes, sent_[0].bytes);
  EXPECT_EQ(sent_[2].bytes[3], 1);
  // A new start may choose the other link.
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(3000)), Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(sent_.back().link, 2);
}

TEST_F(FirmwareTransferTest, UnopenablePathEndsARunningTransferAndSendsNothing) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(3000)), Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(engine_.Start(dir_.filePath("missing.bin"), Link::Udp), FotaOutcome::kCannotOpen);
  EXPECT_EQ(engine_.Start(dir_.path(), Link::Udp), FotaOutcome::kCannotOpen);
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_FALSE(engine_.Awaiting());
  TickTimes(700);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
  EXPECT_EQ(sent_.size(), 1u);
  EXPECT_EQ(engine_.ChooseFile(dir_.filePath("missing.bin")), FotaOutcome::kCannotOpen);
}

TEST_F(FirmwareTransferTest, LengthIsTakenAgainAtStart) {
  // Chosen at 1000 bytes, then rebuilt to 3000 before the start, as a hand-typed path
  // would be: the end frame and the range follow the file really sent.
  const QString path = MakeFile("fw.bin", TestImage(1000));
  ASSERT_EQ(engine_.ChooseFile(path), FotaOutcome::kFileChosen);
  EXPECT_EQ(engine_.File().length, 1000u);
  const Bytes data = TestImage(3000);
  MakeFile("fw.bin", data);
  ASSERT_EQ(engine_.Start(path, Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(engine_.RecordedLength(), 3000u);
  EXPECT_EQ(engine_.File().length, 3000u);
  AcknowledgeToEnd();
  ExpectEndFrame(sent_.back().bytes, 3000, test::Sum32(data));
}

TEST_F(FirmwareTransferTest, FileShrunkDuringTransferEndsItWithNothingMoreSent) {
  const Bytes data = TestImage(3000);
  const QString path = MakeFile("fw.bin", data);
  ASSERT_EQ(engine_.Start(path, Link::Udp), FotaOutcome::kStarted);
  ASSERT_TRUE(QFile::resize(path, 1500));
  const std::size_t before = sent_.size();
  EXPECT_EQ(Reply("OK"), FotaOutcome::kFileChanged);
  EXPECT_EQ(sent_.size(), before) << "neither the rest nor an end frame goes out";
  EXPECT_FALSE(engine_.Awaiting());
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
}

TEST_F(FirmwareTransferTest, ChoosingAnotherFileEndsTheRunningTransfer) {
  ASSERT_EQ(engine_.Start(MakeFile("a.bin", TestImage(3000)), Link::Udp), FotaOutcome::kStarted);
  ASSERT_EQ(engine_.ChooseFile(MakeFile("b.bin", TestImage(9000))), FotaOutcome::kFileChosen);
  EXPECT_FALSE(engine_.Awaiting());
  EXPECT_EQ(Reply("OK"), FotaOutcome::kNone);
  TickTimes(700);
  EXPECT_EQ(sent_.size(), 1u);
}

TEST_F(FirmwareTransferTest, FileBeyondFourGibibytesIsRefused) {
  const QString path = MakeFile("huge.bin", {});
  if (!QFile::resize(path, (qint64{1} << 32) + 1)) GTEST_SKIP() << "no sparse file here";
  EXPECT_EQ(engine_.ChooseFile(path), FotaOutcome::kFileTooLarge);
  EXPECT_EQ(engine_.Start(path, Link::Udp), FotaOutcome::kFileTooLarge);
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_TRUE(sent_.empty());
  QFile::remove(path);
}

// A device that only ever acknowledges the end frame: without a limit it is sent again for
// ever (as the window does, where the engineer can stop it); with one the transfer ends,
// and the counts say exactly what went out and what came back.
TEST_F(FirmwareTransferTest, EndFramesAnsweredOkEndTheTransferAtTheLimit) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(2000)), Link::Udp), FotaOutcome::kStarted);
  AcknowledgeToEnd();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameSent);
  EXPECT_EQ(engine_.EndFramesSent(), 11);
  EXPECT_EQ(engine_.EndFramesAnsweredOk(), 10);

  engine_.SetEndFrameLimit(3);
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(2000)), Link::Udp), FotaOutcome::kStarted);
  EXPECT_EQ(engine_.EndFramesSent(), 0);
  AcknowledgeToEnd();
  EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameSent);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameSent);
  EXPECT_EQ(engine_.EndFramesSent(), 3);
  EXPECT_EQ(Reply("OK"), FotaOutcome::kEndFrameLoop);
  EXPECT_FALSE(engine_.Awaiting());
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_EQ(engine_.EndFramesAnsweredOk(), 3);
}

// Replies arrive through the real receive pump, forwarded by both pages.
class PumpedReplies : public FirmwareTransferTest {
 protected:
  void SetUp() override {
    pump_.Subscribe(ReplyKind::Firmware, std::nullopt, [this](const ReplyFrame& f) { HandleReply(f); });
  }
  void HandleReply(const ReplyFrame& frame) {
    if (frame.Code() == cmd::kFirmware) outcomes_.push_back(engine_.HandleReply(frame));
  }

  void SerialBurst(const Bytes& b) {
    for (uint8_t x : b) state_.PutSerialByte(x);
    for (int i = 0; i < ReceivePump::kSerialCloseTicks; ++i) pump_.Tick();
  }
  void Datagram(const Bytes& b) {
    state_.PutDatagram(b);
    for (int i = 0; i < ReceivePump::kUdpCloseTicks; ++i) pump_.Tick();
  }

  ReceiveState state_;
  ReceivePump pump_{state_};
  std::vector<FotaOutcome> outcomes_;
};

TEST_F(PumpedReplies, OnlyTheTransfersOwnLinkIsHeard) {
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(5000)), Link::Serial), FotaOutcome::kStarted);
  SerialBurst(test::FirmwareReply("OK"));  // a real answer; its bytes stay in the serial buffer
  Datagram(test::FirmwareReply("OK"));     // another device, or an old answer: not this transfer's
  SerialBurst(test::FirmwareReply("XERR"));
  ASSERT_EQ(outcomes_.size(), 3u);
  EXPECT_EQ(outcomes_[0], FotaOutcome::kDataFrameSent);
  EXPECT_EQ(outcomes_[1], FotaOutcome::kNone);
  EXPECT_EQ(outcomes_[2], FotaOutcome::kCheckFailed);
  EXPECT_EQ(sent_.size(), 2u);

  // Over UDP, an unknown answer leaves the timer counting towards the resend.
  ASSERT_EQ(engine_.Start(MakeFile("fw.bin", TestImage(5000)), Link::Udp), FotaOutcome::kStarted);
  Datagram(test::FirmwareReply("??"));
  EXPECT_EQ(sent_.size(), 3u);
  EXPECT_EQ(TickTimes(300 - engine_.TickCount()), FotaOutcome::kResent);
}

}  // namespace
}  // namespace velmora
