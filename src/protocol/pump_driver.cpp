#include "protocol/pump_driver.h"

namespace velmora {

PumpDriver::PumpDriver(ReceivePump& pump, ReceiveState& state, Mode mode, QObject* parent)
    : QObject(parent), pump_(pump), state_(state), mode_(mode) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(1);
  connect(&timer_, &QTimer::timeout, this, &PumpDriver::OnTick);
  state_.SetWakeHandler([this] { QMetaObject::invokeMethod(this, &PumpDriver::Wake, Qt::QueuedConnection); });
  if (mode_ == Mode::Continuous || pump_.Pending()) timer_.start();
}

PumpDriver::~PumpDriver() { state_.SetWakeHandler({}); }

void PumpDriver::Wake() {
  if (!timer_.isActive()) timer_.start();
}

void PumpDriver::OnTick() {
  ++ticks_;
  pump_.Tick();
  // Data stored after this check posts a new wake, so stopping here loses nothing.
  if (mode_ == Mode::OnDemand && !pump_.Pending()) timer_.stop();
}

}  // namespace velmora
