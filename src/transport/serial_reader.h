#pragma once
// The serial port's reader thread: it alone opens, reads, writes and closes the device.
// The user-interface side (SerialPort) talks to it only through a SerialLink.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/serial_port.h"

class QObject;

namespace velmora::detail {

enum class Answer { None, Ok, Failed, Gone };

struct Request {
  enum class Kind { Open, Chunk, DropOutput, Shutdown };
  Kind kind = Kind::Shutdown;
  uint64_t id = 0;
  std::vector<uint8_t> bytes;
};

// What the user-interface side and the reader thread share. Everything here is guarded
// by `mutex`; the Qt objects themselves never leave the reader thread.
struct SerialLink {
  std::mutex mutex;
  std::condition_variable cv;

  const SerialByteSink* sink = nullptr;  // cleared when the port is closed: no byte after that
  bool reading = false;
  bool gone = false;
  bool finished = false;
  QObject* doorbell = nullptr;  // on the reader thread, present while its loop can run
  // Called on the reader thread, under `mutex`, when the device goes away; cleared when
  // the port is closed.
  std::function<void()> on_gone;

  QString name;
  qint32 baud = 9600;
  int parity = 0;

  // Read by the user-interface thread without `mutex`, which the reader holds while it
  // hands bytes over: whether received bytes are still on their way to the sink.
  std::atomic<bool> handing_over{false};
  std::mutex probe_mutex;
  int probe_fd = -1;  // the device while the reader reads it (Unix only)

  std::deque<Request> requests;
  uint64_t next_id = 0;
  uint64_t waiting = 0;
  Answer answer = Answer::None;

  // --- reader thread ---
  void Deliver(const uint8_t* bytes, std::size_t n);
  void Reply(uint64_t id, Answer a);
  void SetProbe(int fd);
  void MarkFinished();

  // --- user-interface thread ---
  // Under the receive state's lock: never waits for the reader.
  bool InputWaiting();
  // Waits up to `timeout_ms` for the answer to the request the caller queued as
  // `waiting`.
  Answer Await(int timeout_ms);
  // Caller holds `mutex`.
  void Ring();
  void Post(Request r);
  Answer Ask(Request r, int timeout_ms);
  bool WaitFinished(int timeout_ms);
  bool Finished();
};

// The reader thread's body: runs the queued open request, then serves the link until a
// Shutdown request, a failed open or a refused line setting. The device is closed when it
// returns.
void RunSerialReader(std::shared_ptr<SerialLink> link);

}  // namespace velmora::detail
