#include "log/answer_watch.h"

#include <algorithm>
#include <vector>

#include "log/traffic_log.h"

namespace velmora {

namespace {
// A reply still coming in when the wait is up may be the answer: it is heard out for at
// most this long (the serial side closes an unfinished frame after ~100 quiet ms).
constexpr std::chrono::milliseconds kHearOut{150};
constexpr std::chrono::milliseconds kHearOutStep{10};
}  // namespace

AnswerWatch::AnswerWatch(LogSink& sink) : sink_(sink) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);  // never before the wait is up
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { OnDeadline(); });
}

void AnswerWatch::Watch(ReceivePump& pump) {
  pump_ = &pump;
  for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Mqtt}) {
    pump.Subscribe(kind, std::nullopt, [this](const ReplyFrame& f) { Answered(f.link, f.Code()); });
  }
}

void AnswerWatch::Await(Link link, uint8_t code, const QString& command) {
  const auto now = Clock::now();
  awaited_.push_back({link, code, command, now, now + wait_});
  Arm();
}

void AnswerWatch::Answered(Link link, uint8_t code) {
  const auto it =
      std::find_if(awaited_.begin(), awaited_.end(), [&](const Command& c) { return c.link == link && c.code == code; });
  if (it == awaited_.end()) return;
  awaited_.erase(it);
  Arm();
}

void AnswerWatch::Forget(Link link) {
  std::erase_if(awaited_, [&](const Command& c) { return c.link == link; });
  Arm();
}

void AnswerWatch::OnDeadline() {
  const auto now = Clock::now();
  const auto late = [&](const Command& c) { return c.due <= now; };
  const auto first_late = std::find_if(awaited_.begin(), awaited_.end(), late);
  if (first_late == awaited_.end()) {
    Arm();
    return;
  }
  if (pump_ && pump_->Pending() && now < first_late->due + kHearOut) {
    timer_.start(kHearOutStep);
    return;
  }
  std::vector<Command> unanswered;
  std::copy_if(awaited_.begin(), awaited_.end(), std::back_inserter(unanswered), late);
  std::erase_if(awaited_, late);
  Arm();
  for (const Command& c : unanswered) {
    sink_.AppendLog(NoAnswerLine(c.name, c.link, c.code,
                                 std::chrono::duration_cast<std::chrono::milliseconds>(c.due - c.sent)));
  }
}

void AnswerWatch::Arm() {
  if (awaited_.empty()) {
    timer_.stop();
    return;
  }
  const auto earliest =
      std::min_element(awaited_.begin(), awaited_.end(), [](const Command& a, const Command& b) { return a.due < b.due; });
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(earliest->due - Clock::now());
  timer_.start(std::max(left, std::chrono::milliseconds(0)));
}

}  // namespace velmora
