#include "fine_timer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace velmora::sim {

FineTimer::FineTimer(std::function<void()> fire) : fire_(std::move(fire)) {
  fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0) {
    coarse_.setSingleShot(true);
    coarse_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&coarse_, &QTimer::timeout, [this] { fire_(); });
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    fire_();
  });
}

FineTimer::~FineTimer() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void FineTimer::ArmAt(std::optional<Nanos> at, Nanos now) {
  if (fd_ < 0) {
    if (!at) return coarse_.stop();
    const Nanos wait = std::max<Nanos>(*at - now, 0);
    return coarse_.start(static_cast<int>((wait + kMilli - 1) / kMilli));
  }
  itimerspec when{};
  if (at) {
    // A floor keeps a fast line from waking us for every single byte.
    const Nanos wait = std::max<Nanos>(*at - now, kMinWait);
    when.it_value.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(wait % 1'000'000'000);
  }
  timerfd_settime(fd_, 0, &when, nullptr);
}

}  // namespace velmora::sim
