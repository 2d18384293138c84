#pragma once
// One device reached without the window: its link (a serial port, or a UDP peer on a
// shared local port), its own receive buffers and pump, command frames out and the reply
// awaited with a time-out, and firmware uploads on the same engine as the upgrade dialog.
// Everything runs on the thread that owns the session's event loop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "fota/firmware_transfer.h"
#include "protocol/pump_driver.h"
#include "protocol/receive_pump.h"
#include "protocol/receive_state.h"
#include "transport/serial_port.h"

namespace velmora {

class UdpHub;

struct DeviceLink {
  Link kind = Link::Serial;
  QString path;           // serial device
  qint32 baud = 115200;
  int parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
  QHostAddress address;   // UDP device
  quint16 device_port = 21;
  bool any_sender = false;  // a broadcast address: every sender is heard

  // How the device is named in messages: the serial path, or "udp:ADDRESS".
  QString Name() const;
};

struct Reply {
  uint8_t code = 0;
  QByteArray payload;  // the reply's payload, never past its end byte
};

struct Answer {
  std::optional<Reply> reply;  // empty: no answer in time, or the frame did not go out
  bool link_failed = false;    // the frame could not be written, or the serial line went away
  QString error;               // why there is no reply
};

class DeviceSession : public QObject {
 public:
  using AnswerHandler = std::function<void(const Answer&)>;
  using ProgressHandler = std::function<void(uint64_t sent, uint64_t total)>;
  using UploadHandler = std::function<void(FotaOutcome)>;

  // `hub` carries a UDP link and must outlive the session; unused for a serial link.
  DeviceSession(DeviceLink device, UdpHub* hub, int timeout_ms);
  ~DeviceSession() override;

  QString Name() const { return link_.Name(); }
  int TimeoutMs() const { return timeout_ms_; }

  // Opens the serial port, or registers with the (already open) hub.
  bool Open(QString* error);
  // Stops any upload and request without calling their handlers, closes the link.
  void Close();

  // Sends one Command frame and waits up to the time-out (the session's unless
  // `timeout_ms` is given) for the reply carrying the same command byte. Replies with
  // other codes are not this request's answer. A time-out is declared only once what
  // had already arrived has been through the pump. One request at a time; the handler
  // runs from the event loop, never inside this call.
  void Request(uint8_t code, std::span<const uint8_t> payload, AnswerHandler done, int timeout_ms = 0);

  // Frames handed to the link so far: 0 means the device has been sent nothing.
  int FramesSent() const { return frames_sent_; }
  // Milliseconds since the first frame went out; 0 before it.
  qint64 SinceFirstFrame() const { return first_frame_.isValid() ? first_frame_.elapsed() : 0; }

  // The end frame of an upload is sent at most this often while the device answers it
  // "OK": a device that never takes nor refuses the image ends the upload as a failure.
  static constexpr int kEndFrameLimit = 3;

  // Starts a firmware upload on the engine the upgrade dialog uses, with its own 10 ms
  // watch (silent 3 s, one resend, silent 3 s). Returns the start's outcome; `done` is
  // called once with the final outcome only if the transfer started.
  FotaOutcome StartUpload(const QString& path, ProgressHandler progress, UploadHandler done);
  // Ends a running upload: nothing more is sent. `done` is not called.
  void StopUpload();
  const FirmwareTransfer& Transfer() const { return transfer_; }
  bool Uploading() const { return upload_done_ != nullptr; }

 private:
  void HandleReply(const ReplyFrame& frame);
  void OnReply(uint8_t code, QByteArray payload);
  void FinishRequest(const Answer& answer);
  bool SendFrame(uint8_t code, std::span<const uint8_t> payload);
  void SendRaw(std::span<const uint8_t> frame);
  void OnUploadTick();
  void OnRequestTimeout();
  void NoteFrameSent();
  void ApplyUpload(FotaOutcome outcome);

  DeviceLink link_;
  UdpHub* hub_;
  int timeout_ms_;
  ReceiveState rx_;
  std::unique_ptr<SerialPort> serial_;
  ReceivePump pump_;
  std::unique_ptr<PumpDriver> driver_;
  bool open_ = false;

  std::optional<uint8_t> awaited_;
  AnswerHandler request_done_;
  QTimer request_timer_;
  int request_timeout_ms_ = 0;
  QElapsedTimer request_overdue_;  // runs while a time-out waits for arrived bytes
  int frames_sent_ = 0;
  QElapsedTimer first_frame_;

  FirmwareTransfer transfer_;
  QTimer upload_timer_;
  ProgressHandler upload_progress_;
  UploadHandler upload_done_;
};

}  // namespace velmora
