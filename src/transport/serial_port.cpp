#include "transport/serial_port.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "protocol/receive_state.h"
#include "transport/serial_port_list.h"
#include "transport/serial_reader.h"

namespace velmora {

namespace {

using detail::Answer;
using detail::Request;
using detail::SerialLink;

}  // namespace

SerialPort::SerialPort(SerialByteSink sink) : sink_(std::move(sink)), port_(SerialPortList::PortName(1)) {}

SerialPort::SerialPort(ReceiveState& state)
    : sink_([&state](uint8_t byte) { state.PutSerialByte(byte); }),
      state_(&state),
      port_(SerialPortList::PortName(1)) {
  state.SetSerialInputProbe([this] { return InputWaiting(); });
}

SerialPort::~SerialPort() {
  if (state_) state_->SetSerialInputProbe({});
  Close();
  // No reader may outlive its port: one left running would go on using the event loop
  // and the application object after they are gone. The wait is bounded by the write
  // time-outs, since a stopping reader has discarded what it had not yet sent.
  for (Stray& s : strays_) s.thread.join();
}

bool SerialPort::Open(const QString& name, qint32 baud, int parity) {
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
  link->on_gone = line_lost_handler_;
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

bool SerialPort::Close() {
  std::lock_guard write_lock(write_mutex_);
  StopReader();
  ReapStrays();
  return true;
}

bool SerialPort::IsOpen() const { return link_ != nullptr; }

bool SerialPort::InputWaiting() const { return link_ && link_->InputWaiting(); }

bool SerialPort::LineLost() const {
  if (!link_) return false;
  std::lock_guard lock(link_->mutex);
  return link_->gone || link_->finished;
}

void SerialPort::SetLineLostHandler(std::function<void()> handler) {
  std::lock_guard write_lock(write_mutex_);
  line_lost_handler_ = std::move(handler);
  if (link_) {
    std::lock_guard lock(link_->mutex);
    link_->on_gone = line_lost_handler_;
  }
}

bool SerialPort::Write(const uint8_t* data, std::size_t len) {
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

std::size_t SerialPort::StrayReaders() const {
  return static_cast<std::size_t>(
      std::count_if(strays_.begin(), strays_.end(), [](const Stray& s) { return !s.link->Finished(); }));
}

void SerialPort::StopReader() {
  if (!link_) return;
  {
    std::lock_guard lock(link_->mutex);
    link_->sink = nullptr;
    link_->on_gone = nullptr;
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

void SerialPort::ReapStrays() {
  for (auto it = strays_.begin(); it != strays_.end();) {
    if (it->link->Finished()) {
      it->thread.join();
      it = strays_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace velmora
