#include "protocol/pump_driver.h"

#include <QSocketNotifier>

#include <chrono>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <time.h>
#endif

namespace velmora {

namespace {
// More than the longest hold of an unfinished reply: a fire never runs more ticks than this.
constexpr int kMaxTicksAtOnce = 4 * ReceivePump::kSerialGuardTicks;
}  // namespace

PumpDriver::PumpDriver(ReceivePump& pump, ReceiveState& state, Mode mode, QObject* parent)
    : QObject(parent), pump_(pump), state_(state), mode_(mode) {
  state_.CountRealQuietTime(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &PumpDriver::OnDeadline);
  if (mode_ == Mode::Continuous) {
    timer_.setInterval(1);
  } else {
    timer_.setSingleShot(true);
#ifdef Q_OS_LINUX
    // steady_clock is CLOCK_MONOTONIC here.
    timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_fd_ >= 0) {
      timer_notifier_ = std::make_unique<QSocketNotifier>(timer_fd_, QSocketNotifier::Read);
      connect(timer_notifier_.get(), &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto n = read(timer_fd_, &expirations, sizeof expirations);
        OnDeadline();
      });
    }
#endif
  }
#ifdef Q_OS_UNIX
  if (pipe2(wake_pipe_, O_NONBLOCK | O_CLOEXEC) == 0) {
    wake_notifier_ = std::make_unique<QSocketNotifier>(wake_pipe_[0], QSocketNotifier::Read);
    connect(wake_notifier_.get(), &QSocketNotifier::activated, this, [this] {
      char drain[64];
      while (read(wake_pipe_[0], drain, sizeof drain) > 0) {
      }
      Wake();
    });
  }
#endif
  state_.SetWakeHandler([this] { WakeFromAnyThread(); });
  if (mode_ == Mode::Continuous) {
    timer_.start();
  } else {
    Arm();
  }
}

PumpDriver::~PumpDriver() {
  // Once this returns no thread can call into us any more.
  state_.SetWakeHandler({});
  state_.CountRealQuietTime(false);
  wake_notifier_.reset();
  timer_notifier_.reset();
#ifdef Q_OS_UNIX
  for (int fd : {wake_pipe_[0], wake_pipe_[1], timer_fd_}) {
    if (fd >= 0) close(fd);
  }
#endif
}

bool PumpDriver::Ticking() const { return mode_ == Mode::Continuous ? timer_.isActive() : armed_for_.has_value(); }

void PumpDriver::WakeFromAnyThread() {
#ifdef Q_OS_UNIX
  if (wake_pipe_[1] >= 0) {
    const char one = 1;
    // A full pipe already holds a wake-up; nothing is lost when this write fails.
    [[maybe_unused]] const auto n = write(wake_pipe_[1], &one, 1);
    return;
  }
#endif
  QMetaObject::invokeMethod(this, &PumpDriver::Wake, Qt::QueuedConnection);
}

void PumpDriver::Wake() {
  if (mode_ == Mode::OnDemand && !running_) Arm();
}

void PumpDriver::OnDeadline() {
  ++wakeups_;
  armed_for_.reset();
  // A reply handler's nested event loop must not run the pump inside itself; the
  // outer run arms the timer again when it returns.
  if (running_) return;
  running_ = true;
  for (int i = 0; i < kMaxTicksAtOnce && (mode_ == Mode::Continuous || state_.TickDue()); ++i) {
    pump_.Tick();
    ++ticks_;
    if (mode_ == Mode::Continuous) break;
  }
  running_ = false;
  if (mode_ == Mode::OnDemand) Arm();
}

void PumpDriver::Arm() {
  // Data stored after this look sends a new wake-up, and data that only moves a pending
  // burst's moment later is found when the timer fires: nothing is missed.
  const auto next = state_.NextDecision(ReceivePump::kSerialCloseTicks, ReceivePump::kUdpCloseTicks);
  if (!next) {
    Disarm();
  } else if (next != armed_for_) {
    ArmAt(*next);
  }
}

void PumpDriver::ArmAt(ReceiveState::Clock::time_point at) {
  armed_for_ = at;
#ifdef Q_OS_LINUX
  if (timer_fd_ >= 0) {
    const auto since_boot = at.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since_boot);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(secs.count());
    when.it_value.tv_nsec = static_cast<long>(std::chrono::nanoseconds(since_boot - secs).count());
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    if (timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &when, nullptr) == 0) return;
  }
#endif
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - ReceiveState::Clock::now());
  timer_.start(std::max(wait, std::chrono::milliseconds(0)));
}

void PumpDriver::Disarm() {
  armed_for_.reset();
#ifdef Q_OS_LINUX
  if (timer_fd_ >= 0) {
    const itimerspec off{};
    timerfd_settime(timer_fd_, 0, &off, nullptr);
  }
#endif
  timer_.stop();
}

}  // namespace velmora
