#pragma once
// What the load tests watch: how long the user-interface thread goes without turning
// its event loop, and how much memory the process holds.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>

namespace velmora::test {

// A timer on the user-interface thread; the longest gap between two of its ticks is
// how long the window could not have answered a click or repainted.
class UiStallMeter : public QObject {
 public:
  static constexpr int kPeriodMs = 10;

  UiStallMeter();
  void Start();
  void Stop();
  std::chrono::milliseconds LongestGap() const;
  long Ticks() const { return ticks_; }

 private:
  void OnTick();

  QTimer timer_;
  std::chrono::steady_clock::time_point last_{};
  std::chrono::steady_clock::duration longest_{};
  long ticks_ = 0;
};

// Bytes the allocator has handed out and not had back: with AddressSanitizer its own
// count (freed memory it keeps in quarantine is not in use), else glibc's over all arenas.
std::size_t LiveHeapBytes();
// True when LiveHeapBytes comes from a sanitizer, whose quarantine of freed memory
// makes the resident set grow without anything being in use.
bool SanitizerHeap();
// Resident set of the process.
std::size_t ResidentBytes();

}  // namespace velmora::test
