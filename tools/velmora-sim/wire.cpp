#include "wire.h"

#include <algorithm>

namespace velmora::sim {

Nanos WireTime(int baud, uint64_t bytes) {
  if (baud <= 0) return 0;
  // 10 bits per byte: start, 8 data, stop.
  return static_cast<Nanos>(bytes * 10'000'000'000ull / static_cast<uint64_t>(baud));
}

Nanos InboundLine::Receive(Nanos now, std::size_t n) {
  const Nanos start = std::max(now, free_at_);
  free_at_ = start + WireTime(baud_, n);
  return start;
}

void Outbox::Push(Output out, Nanos ready, Peer peer) {
  items_.push_back(Item{std::move(out), ready, std::move(peer)});
}

std::optional<Nanos> Outbox::Run(Nanos now, const Writer& write) {
  while (!items_.empty()) {
    const Item& head = items_.front();
    const std::size_t size = head.out.bytes.size();
    if (!head_start_) {
      Nanos start = head.ready;
      if (line_free_) start = std::max(start, *line_free_ + std::max(head.out.pause_before, quiet_after_));
      head_start_ = start;
    }
    const Nanos start = *head_start_;
    if (now < start) return start;
    std::size_t due = size;
    if (baud_ > 0) {
      const Nanos elapsed = now - start;
      // The most bytes k with WireTime(k) <= elapsed, in the same rounding as WireTime.
      if (elapsed < WireTime(baud_, size))
        due = static_cast<std::size_t>((static_cast<uint64_t>(elapsed + 1) * static_cast<uint64_t>(baud_) - 1) /
                                       10'000'000'000ull);
    }
    if (due > head_sent_ || (size == 0 && head_sent_ == 0)) {
      write(Slice{head, head_sent_, due});
      head_sent_ = due;
    }
    if (head_sent_ < size) return start + WireTime(baud_, head_sent_ + 1);
    line_free_ = start + WireTime(baud_, size);
    quiet_after_ = head.out.quiet_after;
    items_.pop_front();
    head_start_.reset();
    head_sent_ = 0;
  }
  return std::nullopt;
}

}  // namespace velmora::sim
