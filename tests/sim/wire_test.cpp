#include "wire.h"

#include <gtest/gtest.h>

namespace velmora::sim {
namespace {

Output Item(std::size_t n, Nanos pause = 0, Nanos quiet = 0) {
  Output o;
  o.bytes.assign(n, 0x55);
  o.pause_before = pause;
  o.quiet_after = quiet;
  return o;
}

struct Written {
  std::vector<std::pair<std::size_t, std::size_t>> slices;
  std::size_t bytes = 0;
};

std::optional<Nanos> RunAt(Outbox& box, Nanos now, Written& w) {
  return box.Run(now, [&](const Outbox::Slice& s) {
    w.slices.emplace_back(s.from, s.to);
    w.bytes += s.to - s.from;
  });
}

TEST(Wire, InboundBytesQueueBehindEachOtherOnTheLine) {
  InboundLine line(9600);
  // 96 bytes take 100 ms; a second write 10 ms later waits for the first to finish.
  EXPECT_EQ(line.Receive(0, 96), 0);
  EXPECT_EQ(line.Receive(10 * kMilli, 96), 100 * kMilli);
  // After the line went idle, bytes start when they are read.
  EXPECT_EQ(line.Receive(500 * kMilli, 1), 500 * kMilli);

  InboundLine none(0);
  EXPECT_EQ(none.Receive(7, 1000), 7);
  EXPECT_EQ(none.Receive(8, 1000), 8);
}

TEST(Wire, OutgoingBytesLeaveAtTheLineRateNeverEarly) {
  Outbox box(9600);
  box.Push(Item(10), 0);
  Written w;
  // Nothing has fully left the line before the first byte time.
  auto next = RunAt(box, 0, w);
  EXPECT_EQ(w.bytes, 0u);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, WireTime(9600, 1));
  RunAt(box, WireTime(9600, 5), w);
  EXPECT_EQ(w.bytes, 5u);
  next = RunAt(box, WireTime(9600, 7) - 1, w);
  EXPECT_EQ(w.bytes, 6u);
  EXPECT_EQ(*next, WireTime(9600, 7));
  next = RunAt(box, 10 * kMilli + 500 * kMilli, w);  // late: the rest goes at once
  EXPECT_EQ(w.bytes, 10u);
  EXPECT_FALSE(next);
  EXPECT_TRUE(box.Empty());
  // The line counts as busy until the last byte's modelled end, however late it was written.
  EXPECT_EQ(*box.LineFreeAt(), WireTime(9600, 10));
}

TEST(Wire, TextAsksForQuietLineBeforeAndAfterIt) {
  Outbox box(0);
  box.Push(Item(6), 0);                          // a reply
  box.Push(Item(20, 60 * kMilli, 20 * kMilli), 0);  // boot text
  box.Push(Item(6), 61 * kMilli);                // a reply ready 1 ms after the text began
  Written w;
  auto next = RunAt(box, 0, w);
  EXPECT_EQ(w.slices.size(), 1u);
  EXPECT_EQ(*next, 60 * kMilli);
  next = RunAt(box, 60 * kMilli, w);
  EXPECT_EQ(w.slices.size(), 2u);
  EXPECT_EQ(*next, 80 * kMilli);  // held until the text has had its quiet time
  RunAt(box, 79 * kMilli, w);
  EXPECT_EQ(w.slices.size(), 2u);
  RunAt(box, 80 * kMilli, w);
  EXPECT_EQ(w.slices.size(), 3u);
  // Unpaced items go whole.
  for (const auto& [from, to] : w.slices) EXPECT_EQ(from, 0u);
}

TEST(Wire, PauseCountsFromThePreviousItemNotFromStartUp) {
  Outbox box(0);
  box.Push(Item(5, 60 * kMilli), 3 * kMilli);
  Written w;
  RunAt(box, 3 * kMilli, w);
  EXPECT_EQ(w.bytes, 5u);
}

}  // namespace
}  // namespace velmora::sim
