#include "transport/serial_port.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>
#include <chrono>
#include <utility>

#include "protocol/receive_state.h"
#include "transport/serial_reader.h"

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

namespace velmora {

namespace {

using detail::Answer;
using detail::Request;
using detail::SerialLink;

}  // namespace

CXSerial::CXSerial(SerialByteSink sink) : sink_(std::move(sink)) {}

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
#ifdef Q_OS_UNIX
  // The reader takes the same lock when it opens a port.
  const bool free = ::flock(static_cast<int>(probe.handle()), LOCK_EX | LOCK_NB) == 0;
#else
  const bool free = true;
#endif
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
  link->sink = &sink_;
  link->name = name;
  link->baud = baud;
  link->parity = parity;
  Request open;
  open.kind = Request::Kind::Open;
  open.id = ++link->next_id;
  link->waiting = open.id;
  link->requests.push_back(std::move(open));
  link_ = link;
  reader_ = std::thread(detail::RunSerialReader, link);

  if (link->Await(kOpenTimeoutMs) == Answer::Ok) return true;
  // Not opened, not held, a setting refused or no answer in time: nothing stays open.
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
    link_->sink = nullptr;
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

VekSerial::VekSerial(ReceiveState& state)
    : CXSerial([&state](uint8_t byte) { state.PutSerialByte(byte); }), state_(state) {
  state_.SetSerialInputProbe([this] { return InputWaiting(); });
}

VekSerial::~VekSerial() { state_.SetSerialInputProbe({}); }

}  // namespace velmora
