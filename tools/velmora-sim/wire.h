#pragma once
// A serial line in time: 10 bits per byte at the modelled rate. Bytes the tool writes
// into a pseudo-terminal arrive at once; the device must not act on a frame before its
// last byte would have arrived over a real line, and its own bytes leave at the line
// rate too. A rate of 0 models no line: everything is immediate.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "device.h"
#include "sim_types.h"

namespace velmora::sim {

// Time `bytes` bytes take on the line.
Nanos WireTime(int baud, uint64_t bytes);

// The tool-to-device direction.
class InboundLine {
 public:
  explicit InboundLine(int baud) : baud_(baud) {}

  // `n` bytes read at `now`: when the first of them starts arriving. Byte i (from 0)
  // has arrived at start + WireTime(i + 1).
  Nanos Receive(Nanos now, std::size_t n);

 private:
  int baud_;
  Nanos free_at_ = 0;
};

// Where a datagram goes; unused on the serial line.
struct Peer {
  std::string address;
  uint16_t port = 0;
};

// The device-to-tool direction: items leave in order, each after the quiet time its
// predecessor and itself ask for, byte by byte at the line rate.
class Outbox {
 public:
  struct Item {
    Output out;
    Nanos ready = 0;
    Peer peer;
  };
  struct Slice {
    const Item& item;
    std::size_t from;  // 0: the item starts here
    std::size_t to;    // item.out.bytes.size(): the item is finished
  };
  using Writer = std::function<void(const Slice&)>;

  explicit Outbox(int baud) : baud_(baud) {}

  void Push(Output out, Nanos ready, Peer peer = {});

  // Hands `write` every byte due by `now`; returns when to call again (nothing: empty).
  std::optional<Nanos> Run(Nanos now, const Writer& write);

  bool Empty() const { return items_.empty(); }
  std::size_t Size() const { return items_.size(); }
  // When the last byte handed out so far leaves the line.
  std::optional<Nanos> LineFreeAt() const { return line_free_; }

 private:
  int baud_;
  std::deque<Item> items_;
  std::optional<Nanos> head_start_;
  std::size_t head_sent_ = 0;
  std::optional<Nanos> line_free_;  // nothing sent yet: quiet for ever
  Nanos quiet_after_ = 0;
};

}  // namespace velmora::sim
