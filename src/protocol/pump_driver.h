#pragma once
// Runs the Receive pump. On demand (the default) one timer is armed for the moment the
// next tick can decide anything, a pending burst's closing moment after its last byte or
// datagram, and re-armed when that moment moves; when it fires, the ticks due are run in
// one go. An idle tool has no timer at all. Continuous mode ticks every 1 ms regardless.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

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

  // True while a timer is armed.
  bool Ticking() const;
  // Pump ticks run so far: each stands for one nominal 1 ms tick of quiet.
  std::uint64_t TickCount() const { return ticks_; }
  // Times the timer has fired.
  std::uint64_t WakeupCount() const { return wakeups_; }

 public slots:
  void Wake();

 private:
  void OnDeadline();
  void Arm();
  void ArmAt(ReceiveState::Clock::time_point at);
  void Disarm();
  // Safe from any thread.
  void WakeFromAnyThread();

  ReceivePump& pump_;
  ReceiveState& state_;
  Mode mode_;
  std::uint64_t ticks_ = 0;
  std::uint64_t wakeups_ = 0;
  bool running_ = false;
  std::optional<ReceiveState::Clock::time_point> armed_for_;
  // Where the system has one, a timer file armed at the exact moment; a millisecond
  // timer would round each wait up and land late by a fraction of a tick per burst.
  int timer_fd_ = -1;
  std::unique_ptr<QSocketNotifier> timer_notifier_;
  QTimer timer_;
  // The serial reader wakes the user-interface thread through a pipe rather than a
  // queued call, so no Qt object crosses threads.
  int wake_pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> wake_notifier_;
};

}  // namespace velmora
