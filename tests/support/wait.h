#pragma once
// Waiting on the event loop for something to hold.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace velmora::test {

// Runs the event loop until `done` holds or `timeout` passes. It sleeps inside the loop,
// not beside it as QTest::qWaitFor does with its 10 ms naps, so timers and socket
// notifications keep their pace: a nap per pass would add to every round trip of a
// firmware transfer.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  const QDeadlineTimer deadline(timeout);
  QTimer guard;  // wakes the loop to look at the deadline and at state no event announces
  guard.start(5);
  QEventLoop loop;
  while (!done()) {
    if (deadline.hasExpired()) return false;
    loop.processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

}  // namespace velmora::test
