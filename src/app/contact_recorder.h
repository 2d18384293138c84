#pragma once
// The window's side of the device register: each answer to a command the window sent
// that tells something about a device (version, CSQ, a configuration read or written,
// MQTT credentials read or written) and each firmware upload that ends becomes one row, written on the register's
// own thread so the links never wait for it. A row that cannot be written costs one line
// in the Log pane, nothing more.

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "core/link.h"
#include "core/peer_address.h"
#include "fota/firmware_transfer.h"
#include "protocol/receive_pump.h"
#include "registry/register_row.h"

namespace velmora {

class LogSink;
class RegisterWriter;
class SerialPort;
class UdpEndpoint;

class ContactRecorder : public QObject {
  Q_OBJECT
 public:
  // Subscribes to `pump`'s replies on both links. Records nothing until SetRegister.
  ContactRecorder(ReceivePump& pump, SerialPort& serial, UdpEndpoint& udp, LogSink& log, QObject* parent = nullptr);
  // Writes what is waiting first.
  ~ContactRecorder() override;

  // Where the rows go from now on (see register_url.h); empty: nowhere.
  void SetRegister(const QString& url);
  QString RegisterUrl() const { return url_; }
  // A command with `code` went out over `link`: its answers within `wait` are recorded,
  // one row for each device that answers (several on a broadcast address). Replies
  // nobody asked for are not: a device or a stranger repeating itself must not fill the
  // register.
  // A late answer still tells who the device is: the wait is longer than the Log's.
  static constexpr std::chrono::milliseconds kAnswerWait{30'000};
  void Expect(Link link, uint8_t code, std::chrono::milliseconds wait = kAnswerWait);
  // The link closed: what was asked over it is answered no more.
  void Forget(Link link);
  // The upgrade dialog's upload over `link` ended; `message` is what it showed.
  void RecordUpload(FotaOutcome outcome, Link link, const QString& message);
  // Returns once every row so far has been written or has failed.
  void Flush();

 private:
  void OnReply(const ReplyFrame& frame);
  void Record(RegisterRow row, Link link, const PeerAddress& sender);

  SerialPort& serial_;
  UdpEndpoint& udp_;
  LogSink& log_;
  QString url_;
  std::unique_ptr<RegisterWriter> writer_;
  std::optional<PeerAddress> firmware_sender_;  // who answered the upload running now
  struct Asked {
    Link link;
    uint8_t code;
    std::chrono::steady_clock::time_point until;
    std::vector<PeerAddress> answered;
  };
  std::vector<Asked> asked_;
};

}  // namespace velmora
