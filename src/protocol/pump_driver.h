#pragma once
// Runs the Receive pump from a 1 ms timer. On demand (the default) the timer runs only
// while a burst is pending, so an idle tool costs nothing; continuous mode ticks always.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "protocol/receive_pump.h"
#include "protocol/receive_state.h"

class QSocketNotifier;

namespace velmora {

class PumpDriver : public QObject {
  Q_OBJECT
 public:
  enum class Mode { OnDemand, Continuous };

  // Installs itself as the state's wake handler.
  PumpDriver(ReceivePump& pump, ReceiveState& state, Mode mode = Mode::OnDemand, QObject* parent = nullptr);
  ~PumpDriver() override;

  bool Ticking() const { return timer_.isActive(); }
  std::uint64_t TickCount() const { return ticks_; }

 public slots:
  void Wake();

 private:
  void OnTick();
  // Safe from any thread.
  void WakeFromAnyThread();

  ReceivePump& pump_;
  ReceiveState& state_;
  Mode mode_;
  QTimer timer_;
  std::uint64_t ticks_ = 0;
  // The serial reader wakes the user-interface thread through a pipe rather than a
  // queued call, so no Qt object crosses threads.
  int wake_pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> wake_notifier_;
};

}  // namespace velmora
