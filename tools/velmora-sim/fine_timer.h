#pragma once
// Wakes the event loop at a time given in nanoseconds. Qt's timers round to whole
// milliseconds, which on a modelled line would add up to a millisecond to every frame
// and reply: a throughput measured against the simulator would come out too low.

#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "sim_types.h"

class QSocketNotifier;

namespace velmora::sim {

class FineTimer {
 public:
  explicit FineTimer(std::function<void()> fire);
  ~FineTimer();

  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

  // At `at` (same clock as `now`), or never.
  void ArmAt(std::optional<Nanos> at, Nanos now);

 private:
  static constexpr Nanos kMinWait = 100'000;

  std::function<void()> fire_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer coarse_;
};

}  // namespace velmora::sim
