#include "transport/serial_port.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>

#include "protocol/receive_state.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace velmora {

namespace detail {

enum class Answer { None, Ok, Refused, Failed, Gone };

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

  CXSerial* owner = nullptr;  // cleared when the port is closed: no OnByte after that
  bool reading = false;
  bool gone = false;
  bool finished = false;
  QObject* doorbell = nullptr;  // on the reader thread, present while its loop can run

  QString name;
  qint32 baud = 9600;
  int parity = 0;

  // Read by the user-interface thread without `mutex`, which the reader holds while it
  // hands bytes over: whether received bytes are still on their way to OnByte.
  std::atomic<bool> handing_over{false};
  std::mutex probe_mutex;
  qintptr probe_handle = -1;  // the device while the reader reads it

  std::deque<Request> requests;
  uint64_t next_id = 0;
  uint64_t waiting = 0;
  Answer answer = Answer::None;

  // --- reader thread ---

  void Deliver(const uint8_t* bytes, std::size_t n) {
    std::lock_guard lock(mutex);
    if (!owner || !reading) return;
    for (std::size_t i = 0; i < n; ++i) owner->OnByte(bytes[i]);
  }

  void Reply(uint64_t id, Answer a) {
    std::lock_guard lock(mutex);
    if (id == 0 || id != waiting) return;  // the caller has stopped waiting for it
    answer = a;
    cv.notify_all();
  }

  void SetProbeHandle(qintptr handle) {
    std::lock_guard lock(probe_mutex);
    probe_handle = handle;
  }

  // --- user-interface thread, under the receive state's lock ---

  bool InputWaiting() {
    if (handing_over) return true;
#ifdef Q_OS_UNIX
    std::lock_guard lock(probe_mutex);
    int queued = 0;
    return probe_handle >= 0 && ::ioctl(static_cast<int>(probe_handle), FIONREAD, &queued) == 0 && queued > 0;
#else
    return false;  // Qt keeps its own overlapped read on the port there: only the hand-over shows
#endif
  }

  // --- reader thread ---

  void MarkFinished() {
    std::lock_guard lock(mutex);
    finished = true;
    doorbell = nullptr;
    cv.notify_all();
  }

  // --- user-interface thread ---

  // Caller holds `mutex`.
  void Ring() {
    if (doorbell) QCoreApplication::postEvent(doorbell, new QEvent(QEvent::User));
  }

  void Post(Request r) {
    std::lock_guard lock(mutex);
    requests.push_back(std::move(r));
    Ring();
  }

  Answer Ask(Request r, int timeout_ms) {
    std::unique_lock lock(mutex);
    if (gone || finished) return Answer::Gone;
    r.id = ++next_id;
    waiting = r.id;
    answer = Answer::None;
    requests.push_back(std::move(r));
    Ring();
    cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return answer != Answer::None || finished; });
    Answer a = answer;
    if (a == Answer::None && finished) a = Answer::Gone;
    waiting = 0;
    answer = Answer::None;
    return a;
  }

  bool WaitFinished(int timeout_ms) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return finished; });
  }

  bool Finished() {
    std::lock_guard lock(mutex);
    return finished;
  }
};

}  // namespace detail

namespace {

using detail::Answer;
using detail::Request;
using detail::SerialLink;

// No event is read on our side: the doorbell only says "look at the request queue".
class Doorbell : public QObject {
 public:
  explicit Doorbell(std::function<void()> ring) : ring_(std::move(ring)) {}

 protected:
  void customEvent(QEvent*) override { ring_(); }

 private:
  std::function<void()> ring_;
};

bool HoldExclusively([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
  // Qt's lock file only stops programs that honour lock files, and TIOCEXCL does not stop
  // root; many serial programs take this lock instead.
  return ::flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0;
#else
  return true;  // the device is opened without sharing
#endif
}

bool LineGone(QSerialPort& port, QSerialPort::SerialPortError error) {
#ifdef Q_OS_UNIX
  // An unplugged adapter or a closed far side hangs the line up: reads return 0 and
  // the error Qt reports depends on a stale errno, so ask the descriptor.
  Q_UNUSED(error);
  pollfd pfd{static_cast<int>(port.handle()), POLLIN, 0};
  return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
  Q_UNUSED(port);
  return error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError;
#endif
}

bool ApplyLineSettings(QSerialPort& port, qint32 baud, int parity) {
  static constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                    QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                    QSerialPort::SpaceParity};
  if (parity < 0 || parity >= static_cast<int>(std::size(kParity))) return false;
  if (!port.setBaudRate(baud) || !port.setDataBits(QSerialPort::Data8) || !port.setParity(kParity[parity]) ||
      !port.setStopBits(QSerialPort::OneStop) || !port.setFlowControl(QSerialPort::NoFlowControl)) {
    return false;
  }
  // A pseudo-terminal or an adapter without modem lines cannot drive DTR and RTS; that
  // is no reason to refuse the port. A device that has vanished is.
  for (bool ok : {port.setDataTerminalReady(false), port.setRequestToSend(false)}) {
    if (!ok && (port.error() == QSerialPort::ResourceError || port.error() == QSerialPort::DeviceNotFoundError)) {
      return false;
    }
  }
  return true;
}

void DrainBriefly([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
  // Give a frame written just before Close a moment to leave the UART, but never let
  // close() wait for a full queue at a slow baud rate.
  const int fd = static_cast<int>(port.handle());
  for (int waited = 0; waited < 100; waited += 5) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
#endif
}

// Everything the reader thread owns. Lives on that thread from start to end.
class ReaderSession {
 public:
  ReaderSession(std::shared_ptr<SerialLink> link, QEventLoop& loop)
      : link_(std::move(link)), loop_(loop), doorbell_([this] { ProcessRequests(); }) {
    std::lock_guard lock(link_->mutex);
    link_->doorbell = &doorbell_;
  }

  ~ReaderSession() {
    {
      std::lock_guard lock(link_->mutex);
      link_->doorbell = nullptr;
      link_->reading = false;
    }
    ReleasePort(Release::Plain);
  }

  bool Running() const { return running_; }

  void ProcessRequests() {
    while (running_) {
      Request r;
      {
        std::lock_guard lock(link_->mutex);
        if (link_->requests.empty()) return;
        r = std::move(link_->requests.front());
        link_->requests.pop_front();
      }
      switch (r.kind) {
        case Request::Kind::Open: HandleOpen(r.id); break;
        case Request::Kind::Chunk: HandleChunk(r.id, r.bytes); break;
        case Request::Kind::DropOutput: DropOutput(); break;
        case Request::Kind::Shutdown: Shutdown(); break;
      }
    }
  }

 private:
  void HandleOpen(uint64_t id) {
    QString name;
    qint32 baud;
    int parity;
    {
      std::lock_guard lock(link_->mutex);
      name = link_->name;
      baud = link_->baud;
      parity = link_->parity;
    }
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(name);
    if (!port_->open(QIODevice::ReadWrite) || !HoldExclusively(*port_)) {
      ReleasePort(Release::Plain);  // someone else's line: leave its queues alone
      running_ = false;
      link_->Reply(id, Answer::Failed);
      return;
    }
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError e) { OnError(e); });
    QObject::connect(port_.get(), &QSerialPort::bytesWritten, port_.get(), [this] { OnBytesWritten(); });
    port_->clear();
    if (!ApplyLineSettings(*port_, baud, parity)) {
      // Held open without a reader; keep Qt from buffering what nobody reads.
      port_->setReadBufferSize(1);
      link_->Reply(id, Answer::Refused);
      return;
    }
    port_->clear();
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { OnReadyRead(); });
    {
      std::lock_guard lock(link_->mutex);
      link_->reading = true;
    }
    link_->SetProbeHandle(port_->handle());
    link_->Reply(id, Answer::Ok);
  }

  void HandleChunk(uint64_t id, const std::vector<uint8_t>& bytes) {
    if (!port_ || !port_->isOpen() || gone_) {
      link_->Reply(id, Answer::Gone);
      return;
    }
    chunk_ = id;
    const qint64 n = port_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (n != static_cast<qint64>(bytes.size())) {
      chunk_ = 0;
      link_->Reply(id, Answer::Failed);
    }
    // Qt writes from its buffer when the descriptor is writable; bytesWritten follows.
  }

  void DropOutput() {
    chunk_ = 0;
    if (port_ && port_->isOpen() && !gone_) port_->clear(QSerialPort::Output);
  }

  void Shutdown() {
    running_ = false;
    {
      std::lock_guard lock(link_->mutex);
      link_->reading = false;
    }
    ReleasePort(gone_ ? Release::Plain : Release::Orderly);
    loop_.quit();
  }

  void OnReadyRead() {
    std::array<uint8_t, CXSerial::kChunkSize> buf;
    link_->handing_over = true;
    for (;;) {
      const qint64 n = port_->read(reinterpret_cast<char*>(buf.data()), static_cast<qint64>(buf.size()));
      if (n <= 0) break;
      error_streak_ = 0;
      link_->Deliver(buf.data(), static_cast<std::size_t>(n));
    }
    link_->handing_over = false;
  }

  void OnBytesWritten() {
    error_streak_ = 0;
    if (chunk_ != 0 && port_->bytesToWrite() == 0) {
      link_->Reply(chunk_, Answer::Ok);
      chunk_ = 0;
    }
  }

  void OnError(QSerialPort::SerialPortError e) {
    if (e == QSerialPort::NoError || gone_) return;
    // A read error that keeps coming back with no data in between would spin this loop.
    if (LineGone(*port_, e) || ++error_streak_ >= 100) {
      MarkGone();
      return;
    }
    if (e == QSerialPort::WriteError && chunk_ != 0) {
      link_->Reply(chunk_, Answer::Failed);
      chunk_ = 0;
    }
  }

  void MarkGone() {
    gone_ = true;
    link_->SetProbeHandle(-1);
    {
      std::lock_guard lock(link_->mutex);
      link_->gone = true;
      link_->reading = false;
    }
    if (chunk_ != 0) {
      link_->Reply(chunk_, Answer::Gone);
      chunk_ = 0;
    }
    // Let go of the dead descriptor so the device can come back under its old name, but
    // not from inside the port's own notification.
    QTimer::singleShot(0, &doorbell_, [this] { ReleasePort(Release::Plain); });
  }

  // Orderly: our own healthy line, let a last frame leave, then clear both queues so
  // close() has nothing to wait for.
  enum class Release { Plain, Orderly };
  void ReleasePort(Release how) {
    if (!port_) return;
    link_->SetProbeHandle(-1);  // before the descriptor goes
    port_->disconnect();
    if (port_->isOpen()) {
      if (how == Release::Orderly) {
        DrainBriefly(*port_);
        port_->clear();
      }
      port_->close();
    }
    port_.reset();
  }

  std::shared_ptr<SerialLink> link_;
  QEventLoop& loop_;
  Doorbell doorbell_;
  std::unique_ptr<QSerialPort> port_;
  bool running_ = true;
  bool gone_ = false;
  uint64_t chunk_ = 0;
  int error_streak_ = 0;
};

void RunReader(std::shared_ptr<SerialLink> link) {
  {
    QEventLoop loop;
    ReaderSession session(link, loop);
    session.ProcessRequests();  // the open request is already queued
    if (session.Running()) loop.exec();
  }
  link->MarkFinished();
}

}  // namespace

CXSerial::CXSerial() = default;

CXSerial::~CXSerial() {
  Close();
  for (Stray& s : strays_) {
    if (s.link->WaitFinished(kStopTimeoutMs)) {
      s.thread.join();
    } else {
      s.thread.detach();  // it holds only its own state and ends when its device lets go
    }
  }
}

QString CXSerial::PortName(unsigned number) {
  return number < 10 ? QStringLiteral("COM%1").arg(number) : QStringLiteral("\\\\.\\COM%1").arg(number);
}

QStringList CXSerial::AvailablePorts() {
  QStringList names;
#ifdef Q_OS_WIN
  for (unsigned n = 1; n <= 255; ++n) {
    if (PortExists(PortName(n))) names.append(QStringLiteral("COM%1").arg(n));
  }
#else
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    if (PortExists(info.systemLocation())) names.append(info.portName());
  }
#endif
  return names;
}

bool CXSerial::PortExists(const QString& name) {
  if (name.isEmpty()) return false;
  QSerialPort probe;
  probe.setPortName(name);
  if (!probe.open(QIODevice::ReadWrite)) return false;
  const bool free = HoldExclusively(probe);
  probe.close();
  return free;
}

bool CXSerial::Open(const QString& name, qint32 baud, int parity) {
  std::lock_guard write_lock(write_mutex_);
  StopReader();
  ReapStrays();
  port_ = name;
  baud_ = baud;
  parity_ = parity;

  auto link = std::make_shared<SerialLink>();
  link->owner = this;
  link->name = name;
  link->baud = baud;
  link->parity = parity;
  Request open;
  open.kind = Request::Kind::Open;
  open.id = ++link->next_id;
  link->waiting = open.id;
  link->requests.push_back(std::move(open));
  link_ = link;
  reader_ = std::thread(RunReader, link);

  Answer answer;
  {
    std::unique_lock lock(link->mutex);
    link->cv.wait_for(lock, std::chrono::milliseconds(kOpenTimeoutMs),
                      [&] { return link->answer != Answer::None || link->finished; });
    answer = link->answer;
    link->waiting = 0;
    link->answer = Answer::None;
  }
  if (answer == Answer::Ok) return true;
  if (answer == Answer::Refused) return false;  // open, without a reader, until Close
  StopReader();
  return false;
}

bool CXSerial::Close() {
  std::lock_guard write_lock(write_mutex_);
  StopReader();
  ReapStrays();
  return true;
}

bool CXSerial::IsOpen() const { return link_ != nullptr; }

bool CXSerial::InputWaiting() const { return link_ && link_->InputWaiting(); }

bool CXSerial::LineLost() const {
  if (!link_) return false;
  std::lock_guard lock(link_->mutex);
  return link_->gone || link_->finished;
}

bool CXSerial::Write(const uint8_t* data, std::size_t len) {
  std::lock_guard write_lock(write_mutex_);
  if (!link_) return false;
  std::size_t sent = 0;
  while (sent < len) {
    const std::size_t chunk = std::min(kChunkSize, len - sent);
    bool written = false;
    for (int attempt = 0; attempt <= kChunkRetries && !written; ++attempt) {
      Request r;
      r.kind = Request::Kind::Chunk;
      r.bytes.assign(data + sent, data + sent + chunk);
      const Answer a = link_->Ask(std::move(r), kChunkTimeoutMs);
      if (a == Answer::Ok) {
        written = true;
      } else if (a == Answer::Gone) {
        return false;
      } else if (a == Answer::None) {
        // Stalled: throw away what is queued so the next try, or the next Write, starts clean.
        link_->Post(Request{Request::Kind::DropOutput, 0, {}});
      }
    }
    if (!written) return false;
    sent += chunk;
  }
  return true;
}

std::size_t CXSerial::StrayReaders() const {
  return static_cast<std::size_t>(
      std::count_if(strays_.begin(), strays_.end(), [](const Stray& s) { return !s.link->Finished(); }));
}

void CXSerial::StopReader() {
  if (!link_) return;
  {
    std::lock_guard lock(link_->mutex);
    link_->owner = nullptr;
    link_->reading = false;
    link_->requests.push_back(Request{Request::Kind::Shutdown, 0, {}});
    link_->Ring();
  }
  if (link_->WaitFinished(kStopTimeoutMs)) {
    reader_.join();
  } else {
    strays_.push_back(Stray{link_, std::move(reader_)});
  }
  link_.reset();
}

void CXSerial::ReapStrays() {
  for (auto it = strays_.begin(); it != strays_.end();) {
    if (it->link->Finished()) {
      it->thread.join();
      it = strays_.erase(it);
    } else {
      ++it;
    }
  }
}

VekSerial::VekSerial(ReceiveState& state) : state_(state) {
  state_.SetSerialInputProbe([this] { return InputWaiting(); });
}

VekSerial::~VekSerial() {
  state_.SetSerialInputProbe({});
  Close();
}

void VekSerial::OnByte(uint8_t byte) { state_.PutSerialByte(byte); }

}  // namespace velmora
