#include "mqtt/ui/dialog_mqtt.h"

#include <QComboBox>

#include "app/controls.h"
#include "app/main_window.h"
#include "mqtt/mqtt_defaults.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "resources/mqtt_layout.h"
#include "transport/command_senders.h"

namespace velmora {

namespace {
constexpr const char* kSerialSendPrefix = "串口发送:";
constexpr const char* kUdpSendPrefix = "UDP发送:";
constexpr const char* kStatusSent = "....";
constexpr const char* kStatusDone = "Successful!";
}  // namespace

CDialog_Mqtt::CDialog_Mqtt(CMorvaneDlg& main, QWidget* parent) : QWidget(parent), main_(main) {
  controls_ = BuildDialog(res::MqttDialog(), this);
  ShowCredentials(DefaultMqttCredentials());

  // The layout lists the buttons first; Tab should still walk the form top to bottom.
  QWidget::setTabOrder(controls_.Get(res::kIdcMqttPortMap), controls_.Get(res::kIdcProductKey));
  QWidget::setTabOrder(controls_.Get(res::kIdcProductKey), controls_.Get(res::kIdcDeviceName));
  QWidget::setTabOrder(controls_.Get(res::kIdcDeviceName), controls_.Get(res::kIdcDeviceSecret));
  QWidget::setTabOrder(controls_.Get(res::kIdcDeviceSecret), controls_.Get(res::kIdcWriteMqtt));
  QWidget::setTabOrder(controls_.Get(res::kIdcWriteMqtt), controls_.Get(res::kIdcReadMqtt));

  BindClicks(controls_, this,
             ClickTable<CDialog_Mqtt>{
                 {res::kIdcWriteMqtt, &CDialog_Mqtt::OnWriteConfig},
                 {res::kIdcReadMqtt, &CDialog_Mqtt::OnReadConfig},
             });
}

CDialog_Mqtt::~CDialog_Mqtt() = default;

MqttCredentials CDialog_Mqtt::Credentials() const {
  MqttCredentials c;
  c.port_map = ListPosition(controls_.Combo(res::kIdcMqttPortMap));
  c.product_key = ToGbk(controls_.Edit(res::kIdcProductKey)->text());
  c.device_name = ToGbk(controls_.Edit(res::kIdcDeviceName)->text());
  c.device_secret = ToGbk(controls_.Edit(res::kIdcDeviceSecret)->text());
  return c;
}

void CDialog_Mqtt::ShowCredentials(const MqttCredentials& c) {
  SetListPosition(controls_.Combo(res::kIdcMqttPortMap), c.port_map);
  controls_.Edit(res::kIdcProductKey)->setText(FromGbk(c.product_key));
  controls_.Edit(res::kIdcDeviceName)->setText(FromGbk(c.device_name));
  controls_.Edit(res::kIdcDeviceSecret)->setText(FromGbk(c.device_secret));
}

void CDialog_Mqtt::OnWriteConfig() {
  const MqttRecordBytes record = EncodeMqtt(Credentials());
  Send(cmd::kWriteMqtt, record);
}

void CDialog_Mqtt::OnReadConfig() { Send(cmd::kReadMqtt, {}); }

void CDialog_Mqtt::Send(uint8_t code, std::span<const uint8_t> payload) {
  AppServices& links = main_.Services();
  QString hex;
  QString line;
  // Asked at every send: the engineer may open or close the serial port at any time.
  if (links.serial.IsOpen()) {
    SendCommandSerial(links.serial, code, payload, hex);
    line = QString::fromUtf8(kSerialSendPrefix) + hex;
  } else {
    SendCommandUdp(links.udp, code, payload, hex);
    line = QString::fromUtf8(kUdpSendPrefix) + hex;
  }
  main_.AppendLog(line);
  main_.SetStatusText(QString::fromUtf8(kStatusSent));
}

void CDialog_Mqtt::HandleReply(const ReplyFrame& frame) {
  if (frame.Code() != cmd::kWriteMqtt && frame.Code() != cmd::kReadMqtt) return;
  // The payload is taken from the frame the link delivered and no further: a short reply
  // leaves the missing fields empty instead of showing older traffic from the buffer.
  ShowCredentials(DecodeMqtt(frame.Payload()));
  main_.SetStatusText(QString::fromUtf8(kStatusDone));
}

}  // namespace velmora
