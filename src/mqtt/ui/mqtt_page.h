#pragma once
// The MQTT credential page: port mapping and the three credentials, written with 0xE6 and
// read with 0xE7. It owns no link: it sends over the serial port while that is open and
// over UDP otherwise, and takes the replies to both commands from whichever link carried
// them.

#include <QRect>
#include <QWidget>

#include <cstdint>
#include <span>
#include <vector>

#include "widgets/dialog_builder.h"
#include "widgets/page_host.h"
#include "mqtt/mqtt_record.h"
#include "protocol/receive_pump.h"

class QGroupBox;

namespace velmora {

class SerialPort;
class UdpEndpoint;

class MqttPage : public QWidget {
  Q_OBJECT
 public:
  // `host` gives the Log pane and the status text; it and the two links must outlive the
  // page.
  MqttPage(PageHost& host, SerialPort& serial, UdpEndpoint& udp, QWidget* parent = nullptr);
  ~MqttPage() override;

  // Replies to 0xE6 and 0xE7 both carry the credential record; other codes are ignored.
  void HandleReply(const ReplyFrame& frame);

  // What the controls hold, texts as the GBK bytes that travel.
  MqttCredentials Credentials() const;
  void ShowCredentials(const MqttCredentials& c);

  const ControlMap& Controls() const { return controls_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  void OnWriteConfig();  // 1019
  void OnReadConfig();   // 1020
  // The command of `button`: sent, logged, and its answer awaited when it went out.
  void Send(int button, uint8_t code, std::span<const uint8_t> payload);

  PageHost& host_;
  SerialPort& serial_;
  UdpEndpoint& udp_;
  ControlMap controls_;
  struct Frame {
    QGroupBox* box;
    QRect designed;
  };
  std::vector<Frame> frames_;
};

}  // namespace velmora
