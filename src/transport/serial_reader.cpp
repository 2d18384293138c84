#include "transport/serial_reader.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <iterator>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace velmora::detail {

void SerialLink::Deliver(const uint8_t* bytes, std::size_t n) {
  std::lock_guard lock(mutex);
  if (!sink || !*sink || !reading) return;
  for (std::size_t i = 0; i < n; ++i) (*sink)(bytes[i]);
}

void SerialLink::Reply(uint64_t id, Answer a) {
  std::lock_guard lock(mutex);
  if (id == 0 || id != waiting) return;  // the caller has stopped waiting for it
  answer = a;
  cv.notify_all();
}

void SerialLink::SetProbe(int fd) {
  std::lock_guard lock(probe_mutex);
  probe_fd = fd;
}

void SerialLink::MarkFinished() {
  std::lock_guard lock(mutex);
  finished = true;
  doorbell = nullptr;
  cv.notify_all();
}

bool SerialLink::InputWaiting() {
  if (handing_over) return true;
#ifdef Q_OS_UNIX
  std::lock_guard lock(probe_mutex);
  int queued = 0;
  return probe_fd >= 0 && ::ioctl(probe_fd, FIONREAD, &queued) == 0 && queued > 0;
#else
  return false;  // Qt keeps its own overlapped read on the port there: only the hand-over shows
#endif
}

void SerialLink::Ring() {
  if (doorbell) QCoreApplication::postEvent(doorbell, new QEvent(QEvent::User));
}

void SerialLink::Post(Request r) {
  std::lock_guard lock(mutex);
  requests.push_back(std::move(r));
  Ring();
}

Answer SerialLink::Await(int timeout_ms) {
  std::unique_lock lock(mutex);
  cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return answer != Answer::None || finished; });
  Answer a = answer;
  if (a == Answer::None && finished) a = Answer::Gone;
  waiting = 0;
  answer = Answer::None;
  return a;
}

Answer SerialLink::Ask(Request r, int timeout_ms) {
  {
    std::lock_guard lock(mutex);
    if (gone || finished) return Answer::Gone;
    r.id = ++next_id;
    waiting = r.id;
    answer = Answer::None;
    requests.push_back(std::move(r));
    Ring();
  }
  return Await(timeout_ms);
}

bool SerialLink::WaitFinished(int timeout_ms) {
  std::unique_lock lock(mutex);
  return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return finished; });
}

bool SerialLink::Finished() {
  std::lock_guard lock(mutex);
  return finished;
}

namespace {

// No event is read on our side: the doorbell only says "look at the request queue".
class Doorbell : public QObject {
 public:
  explicit Doorbell(std::function<void()> ring) : ring_(std::move(ring)) {}

 protected:
  void customEvent(QEvent*) override { ring_(); }

 private:
  std::function<void()> ring_;
};

int Descriptor([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
  return static_cast<int>(port.handle());
#else
  return -1;  // a HANDLE there, and not one to ask for queued input
#endif
}

bool HoldExclusively([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
  // Qt's lock file only stops programs that honour lock files, and TIOCEXCL does not stop
  // root; many serial programs take this lock instead.
  return ::flock(Descriptor(port), LOCK_EX | LOCK_NB) == 0;
#else
  return true;  // the device is opened without sharing
#endif
}

bool LineGone(QSerialPort& port, QSerialPort::SerialPortError error) {
#ifdef Q_OS_UNIX
  // An unplugged adapter or a closed far side hangs the line up: reads return 0 and
  // the error Qt reports depends on a stale errno, so ask the descriptor.
  Q_UNUSED(error);
  pollfd pfd{Descriptor(port), POLLIN, 0};
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
  const int fd = Descriptor(port);
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
      // A port that cannot be set as asked is no port to read: let it go at once, so a
      // failed open never leaves the device held. Closing puts its old settings back.
      ReleasePort(Release::Orderly);
      running_ = false;
      link_->Reply(id, Answer::Failed);
      return;
    }
    port_->clear();
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { OnReadyRead(); });
    {
      std::lock_guard lock(link_->mutex);
      link_->reading = true;
    }
    link_->SetProbe(Descriptor(*port_));
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
    std::array<uint8_t, SerialPort::kChunkSize> buf;
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
    link_->SetProbe(-1);
    {
      std::lock_guard lock(link_->mutex);
      link_->gone = true;
      link_->reading = false;
      if (link_->on_gone) link_->on_gone();
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
    link_->SetProbe(-1);  // before the descriptor goes
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

}  // namespace

void RunSerialReader(std::shared_ptr<SerialLink> link) {
  {
    QEventLoop loop;
    ReaderSession session(link, loop);
    session.ProcessRequests();  // the open request is already queued
    if (session.Running()) loop.exec();
  }
  link->MarkFinished();
}

}  // namespace velmora::detail
