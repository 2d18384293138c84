#pragma once
// Runs the Receive pump from a 1 ms timer. On demand (the default) the timer runs only
// while a burst is pending, so an idle tool costs nothing; continuous mode ticks always.

#include <QObject>
#include <QTimer>

#include <cstdint>

#include "protocol/receive_pump.h"
#include "protocol/receive_state.h"

namespace velmora {

class PumpDriver : public QObject {
  Q_OBJECT
 public:
  enum class Mode { OnDemand, Continuous };

  // Installs itself as the state's wake handler; destroy it only after the serial
  // reader has stopped.
  PumpDriver(ReceivePump& pump, ReceiveState& state, Mode mode = Mode::OnDemand, QObject* parent = nullptr);
  ~PumpDriver() override;

  bool Ticking() const { return timer_.isActive(); }
  std::uint64_t TickCount() const { return ticks_; }

 public slots:
  // Thread-safe through the queued call the wake handler makes.
  void Wake();

 private:
  void OnTick();

  ReceivePump& pump_;
  ReceiveState& state_;
  Mode mode_;
  QTimer timer_;
  std::uint64_t ticks_ = 0;
};

}  // namespace velmora
