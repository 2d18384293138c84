#include "protocol/pump_driver.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velmora {

PumpDriver::PumpDriver(ReceivePump& pump, ReceiveState& state, Mode mode, QObject* parent)
    : QObject(parent), pump_(pump), state_(state), mode_(mode) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(1);
  connect(&timer_, &QTimer::timeout, this, &PumpDriver::OnTick);
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
  if (mode_ == Mode::Continuous || pump_.Pending()) timer_.start();
}

PumpDriver::~PumpDriver() {
  // Once this returns no thread can call into us any more.
  state_.SetWakeHandler({});
  wake_notifier_.reset();
#ifdef Q_OS_UNIX
  for (int fd : wake_pipe_) {
    if (fd >= 0) close(fd);
  }
#endif
}

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
  if (!timer_.isActive()) timer_.start();
}

void PumpDriver::OnTick() {
  ++ticks_;
  pump_.Tick();
  // Data stored after this check sends a new wake-up, so stopping here loses nothing.
  if (mode_ == Mode::OnDemand && !pump_.Pending()) timer_.stop();
}

}  // namespace velmora
