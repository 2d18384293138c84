#include "load/load_probe.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZER_HEAP 1
// From the sanitizer runtime; GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora::test {

UiStallMeter::UiStallMeter() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &UiStallMeter::OnTick);
}

void UiStallMeter::Start() {
  last_ = std::chrono::steady_clock::now();
  longest_ = {};
  ticks_ = 0;
  timer_.start();
}

void UiStallMeter::Stop() {
  OnTick();  // a stall that is still going on counts too
  timer_.stop();
}

void UiStallMeter::OnTick() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ > longest_) longest_ = now - last_;
  last_ = now;
  ++ticks_;
}

std::chrono::milliseconds UiStallMeter::LongestGap() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(longest_);
}

std::size_t LiveHeapBytes() {
#if defined(VELMORA_SANITIZER_HEAP)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
  const struct mallinfo2 m = ::mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}

bool SanitizerHeap() {
#if defined(VELMORA_SANITIZER_HEAP)
  return true;
#else
  return false;
#endif
}

std::size_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long pages = 0, resident = 0;
  const int got = std::fscanf(f, "%lu %lu", &pages, &resident);
  std::fclose(f);
  return got == 2 ? resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace velmora::test
