#include "session/device_session.h"

#include "protocol/command_frame.h"
#include "transport/command_senders.h"
#include "transport/udp_hub.h"

namespace velmora {

QString DeviceLink::Name() const {
  if (kind == Link::Serial) return path;
  QString name = QStringLiteral("udp:") + address.toString();
  if (device_port != 21) name += QLatin1Char(':') + QString::number(device_port);
  return name;
}

DeviceSession::DeviceSession(DeviceLink device, UdpHub* hub, int timeout_ms)
    : link_(std::move(device)),
      hub_(hub),
      timeout_ms_(timeout_ms),
      pump_(rx_),
      transfer_([this](std::span<const uint8_t> f) { SendRaw(f); }, [this](std::span<const uint8_t> f) { SendRaw(f); }) {
  // Every kind of reply on the session's one link: the awaited request sorts them.
  for (ReplyKind kind : {ReplyKind::Config, ReplyKind::Firmware, ReplyKind::Mqtt}) {
    pump_.Subscribe(kind, std::nullopt, [this](const ReplyFrame& f) { HandleReply(f); });
  }
  request_timer_.setSingleShot(true);
  // Never early: "no answer within N ms" must be true.
  request_timer_.setTimerType(Qt::PreciseTimer);
  connect(&request_timer_, &QTimer::timeout, this, &DeviceSession::OnRequestTimeout);
  transfer_.SetEndFrameLimit(kEndFrameLimit);
  // The upgrade dialog's watch: ticking while a frame is awaited.
  upload_timer_.setTimerType(Qt::PreciseTimer);
  upload_timer_.setInterval(FirmwareTransfer::kTickPeriodMs);
  connect(&upload_timer_, &QTimer::timeout, this, &DeviceSession::OnUploadTick);
}

DeviceSession::~DeviceSession() { Close(); }

bool DeviceSession::Open(QString* error) {
  Close();
  if (link_.kind == Link::Serial) {
    serial_ = std::make_unique<SerialPort>(rx_);
    if (!serial_->Open(link_.path, link_.baud, link_.parity)) {
      serial_->Close();
      serial_.reset();
      if (error) *error = QStringLiteral("cannot open serial port %1").arg(link_.path);
      return false;
    }
  } else {
    if (!hub_ || !hub_->IsOpen()) {
      if (error) *error = QStringLiteral("the local UDP port is not open");
      return false;
    }
    hub_->AddPeer(link_.address.toIPv4Address(), rx_, link_.any_sender);
  }
  driver_ = std::make_unique<PumpDriver>(pump_, rx_);
  open_ = true;
  return true;
}

void DeviceSession::Close() {
  request_timer_.stop();
  awaited_.reset();
  request_done_ = nullptr;
  if (upload_done_) StopUpload();
  driver_.reset();
  if (serial_) {
    serial_->Close();
    serial_.reset();
  }
  if (open_ && link_.kind == Link::Udp && hub_) hub_->RemovePeer(link_.address.toIPv4Address());
  open_ = false;
}

void DeviceSession::NoteFrameSent() {
  if (frames_sent_++ == 0) first_frame_.start();
}

void DeviceSession::OnRequestTimeout() {
  // Bytes that arrived in time but still wait in the receive buffers or the driver are
  // the answer's, not silence: the pump gets to close them first, for at most as long as
  // it holds an unfinished reply.
  constexpr int kStepMs = 2;
  constexpr int kMaxOverdueMs = 2 * ReceivePump::kSerialGuardTicks;
  const bool arriving = rx_.SerialPending() || rx_.UdpPending() || (serial_ && serial_->InputWaiting());
  if (arriving && (!request_overdue_.isValid() || request_overdue_.elapsed() < kMaxOverdueMs)) {
    if (!request_overdue_.isValid()) request_overdue_.start();
    request_timer_.start(kStepMs);
    return;
  }
  Answer a;
  const bool lost = serial_ && serial_->LineLost();
  a.link_failed = lost;
  a.error = lost ? QStringLiteral("the serial line went away") : QStringLiteral("no answer within %1 ms").arg(request_timeout_ms_);
  FinishRequest(a);
}

bool DeviceSession::SendFrame(uint8_t code, std::span<const uint8_t> payload) {
  NoteFrameSent();
  if (link_.kind == Link::Serial) {
    QString hex;
    return serial_ && SendCommandSerial(*serial_, code, payload, hex);
  }
  const auto frame = BuildCommandFrame(code, payload);
  return frame && hub_ && hub_->SendTo(link_.address.toIPv4Address(), link_.device_port, frame->data(), frame->size()) == 0;
}

void DeviceSession::SendRaw(std::span<const uint8_t> frame) {
  NoteFrameSent();
  // The watch is armed before the frame goes out, as in the upgrade dialog.
  if (!upload_timer_.isActive()) upload_timer_.start();
  // A failed write is not reported here: the watch resends and then times out, and a
  // serial line that has gone away ends the transfer at the next tick.
  if (link_.kind == Link::Serial) {
    if (serial_) (void)serial_->Write(frame.data(), frame.size());
  } else if (hub_) {
    (void)hub_->SendTo(link_.address.toIPv4Address(), link_.device_port, frame.data(), frame.size());
  }
}

void DeviceSession::Request(uint8_t code, std::span<const uint8_t> payload, AnswerHandler done, int timeout_ms) {
  request_done_ = std::move(done);
  awaited_ = code;
  request_timeout_ms_ = timeout_ms > 0 ? timeout_ms : timeout_ms_;
  request_overdue_.invalidate();
  if (!open_ || !SendFrame(code, payload)) {
    Answer a;
    a.link_failed = true;
    a.error = open_ ? QStringLiteral("the frame could not be written") : QStringLiteral("the link is not open");
    awaited_.reset();
    // Never inside the call: the caller's state is complete before its handler runs.
    QMetaObject::invokeMethod(this, [this, a] { FinishRequest(a); }, Qt::QueuedConnection);
    return;
  }
  request_timer_.start(request_timeout_ms_);
}

void DeviceSession::FinishRequest(const Answer& answer) {
  request_timer_.stop();
  awaited_.reset();
  AnswerHandler done = std::move(request_done_);
  request_done_ = nullptr;
  if (done) done(answer);
}

void DeviceSession::HandleReply(const ReplyFrame& frame) {
  // Acted on once the pump has returned: the next frame must not go out while the pump
  // still holds the serial receive gate closed, or an answer at once would not be heard.
  const uint8_t code = frame.Code();
  const auto payload = frame.Payload();
  QByteArray bytes(reinterpret_cast<const char*>(payload.data()), static_cast<qsizetype>(payload.size()));
  if (code == cmd::kFirmware) {
    std::vector<uint8_t> whole(frame.bytes.begin(), frame.bytes.end());
    QMetaObject::invokeMethod(
        this,
        [this, link = frame.link, whole = std::move(whole)] {
          if (upload_done_) ApplyUpload(transfer_.HandleReply(ReplyFrame{link, whole}));
        },
        Qt::QueuedConnection);
    return;
  }
  QMetaObject::invokeMethod(this, [this, code, bytes] { OnReply(code, bytes); }, Qt::QueuedConnection);
}

void DeviceSession::OnReply(uint8_t code, QByteArray payload) {
  if (!awaited_ || *awaited_ != code) return;
  Answer a;
  a.reply = Reply{code, std::move(payload)};
  FinishRequest(a);
}

FotaOutcome DeviceSession::StartUpload(const QString& path, ProgressHandler progress, UploadHandler done) {
  upload_progress_ = std::move(progress);
  upload_done_ = std::move(done);
  const FotaOutcome outcome = transfer_.Start(path, link_.kind);
  if (outcome != FotaOutcome::kStarted) {
    upload_done_ = nullptr;
    upload_progress_ = nullptr;
    upload_timer_.stop();
    return outcome;
  }
  ApplyUpload(outcome);
  return outcome;
}

void DeviceSession::StopUpload() {
  (void)transfer_.Stop();
  upload_timer_.stop();
  upload_done_ = nullptr;
  upload_progress_ = nullptr;
}

void DeviceSession::OnUploadTick() { ApplyUpload(transfer_.Tick()); }

void DeviceSession::ApplyUpload(FotaOutcome outcome) {
  // A serial device that has gone away can neither take the next frame nor answer.
  if (transfer_.Awaiting() && link_.kind == Link::Serial && serial_ && serial_->LineLost()) {
    outcome = transfer_.SerialLost();
  }
  if (!transfer_.Awaiting()) {
    upload_timer_.stop();
  } else if (!upload_timer_.isActive()) {
    upload_timer_.start();
  }
  if ((outcome == FotaOutcome::kStarted || outcome == FotaOutcome::kDataFrameSent) && upload_progress_) {
    upload_progress_(transfer_.DataBytesSent(), transfer_.RecordedLength());
  }
  if (transfer_.Awaiting() || outcome == FotaOutcome::kNone) return;
  UploadHandler done = std::move(upload_done_);
  upload_done_ = nullptr;
  upload_progress_ = nullptr;
  if (done) done(outcome);
}

}  // namespace velmora
