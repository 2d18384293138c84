#pragma once
// Commands awaiting the device's answer. One that gets none in time adds one Log line that
// names it and its link; nothing else changes (the status text keeps its "....").
//
// Each command sent is awaited on its own: pressing a button twice awaits two answers, and
// each reply of that code on that link answers the oldest still awaited, whoever sent the
// frame it answers. The timer runs only while something is awaited, armed for the
// earliest deadline, so an idle tool has none.

#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>

#include "core/link.h"
#include "log/log_sink.h"
#include "protocol/receive_pump.h"

namespace velmora {

class AnswerWatch {
 public:
  static constexpr std::chrono::milliseconds kDefaultWait{3000};

  explicit AnswerWatch(LogSink& sink);
  AnswerWatch(const AnswerWatch&) = delete;
  AnswerWatch& operator=(const AnswerWatch&) = delete;

  // Configuration and MQTT replies from the pump answer what is awaited; firmware replies
  // do not (the upgrade dialog keeps its own time).
  void Watch(ReceivePump& pump);

  // `command` (as the engineer knows it: the button's caption) went out over `link`.
  void Await(Link link, uint8_t code, const QString& command);
  // A reply with `code` came over `link`.
  void Answered(Link link, uint8_t code);
  // The link has closed: what was awaited on it is dropped without a line. The Log already
  // says the link closed; blaming the device for the silence would be wrong.
  void Forget(Link link);

  // How long an answer is awaited; tests shorten it.
  void SetWait(std::chrono::milliseconds wait) { wait_ = wait; }
  std::chrono::milliseconds Wait() const { return wait_; }

  std::size_t Awaited() const { return awaited_.size(); }
  bool TimerRunning() const { return timer_.isActive(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Command {
    Link link;
    uint8_t code;
    QString name;
    Clock::time_point sent;
    Clock::time_point due;
  };

  void OnDeadline();
  void Arm();

  LogSink& sink_;
  ReceivePump* pump_ = nullptr;
  std::chrono::milliseconds wait_ = kDefaultWait;
  std::deque<Command> awaited_;  // in the order they were sent
  QTimer timer_;
};

}  // namespace velmora
