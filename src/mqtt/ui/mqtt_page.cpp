#include "mqtt/ui/mqtt_page.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>

#include <algorithm>

#include "widgets/accessibility.h"
#include "widgets/controls.h"
#include "widgets/translation.h"
#include "log/traffic_log.h"
#include "mqtt/mqtt_defaults.h"
#include "protocol/command_frame.h"
#include "protocol/gbk.h"
#include "resources/mqtt_layout.h"
#include "transport/command_senders.h"
#include "transport/serial_port.h"

namespace velmora {

static_assert(res::kProductKeyLimit == kProductKeyBytes && res::kDeviceNameLimit == kDeviceNameBytes &&
                  res::kDeviceSecretLimit == kDeviceSecretBytes,
              "the credential boxes take exactly what the record's fields hold");

namespace {
constexpr const char* kStatusSent = "....";
constexpr const char* kStatusDone = "Successful!";
}  // namespace

MqttPage::MqttPage(PageHost& host, SerialPort& serial, UdpEndpoint& udp, QWidget* parent)
    : QWidget(parent), host_(host), serial_(serial), udp_(udp) {
  controls_ = BuildDialog(res::MqttDialog(), this);
  for (QGroupBox* box : findChildren<QGroupBox*>()) frames_.push_back({box, box->geometry()});
  ShowCredentials(DefaultMqttCredentials());

  BindClicks(controls_, this,
             ClickTable<MqttPage>{
                 {res::kIdcWriteMqtt, &MqttPage::OnWriteConfig},
                 {res::kIdcReadMqtt, &MqttPage::OnReadConfig},
             });
}

MqttPage::~MqttPage() = default;

// The tab control may give the page less width than the layout asks for: its fonts are
// not the ones the layout was drawn with. The frames then end as far inside the page's
// right edge as they start from its left one, instead of running out of view.
void MqttPage::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  for (const auto& [box, designed] : frames_) {
    QRect r = designed;
    r.setRight(std::min(designed.right(), width() - 1 - designed.left()));
    box->setGeometry(r);
  }
}

MqttCredentials MqttPage::Credentials() const {
  MqttCredentials c;
  c.port_map = ListPosition(controls_.Combo(res::kIdcMqttPortMap));
  c.product_key = ToGbk(controls_.Edit(res::kIdcProductKey)->text());
  c.device_name = ToGbk(controls_.Edit(res::kIdcDeviceName)->text());
  c.device_secret = ToGbk(controls_.Edit(res::kIdcDeviceSecret)->text());
  return c;
}

void MqttPage::ShowCredentials(const MqttCredentials& c) {
  SetListPosition(controls_.Combo(res::kIdcMqttPortMap), c.port_map);
  controls_.Edit(res::kIdcProductKey)->setText(FromGbk(c.product_key));
  controls_.Edit(res::kIdcDeviceName)->setText(FromGbk(c.device_name));
  controls_.Edit(res::kIdcDeviceSecret)->setText(FromGbk(c.device_secret));
}

void MqttPage::OnWriteConfig() {
  if (!serial_.IsOpen() && !host_.MaySendToAll(Link::Udp, controls_.Button(res::kIdcWriteMqtt)->text())) return;
  const MqttRecordBytes record = EncodeMqtt(Credentials());
  Send(res::kIdcWriteMqtt, cmd::kWriteMqtt, record);
}

void MqttPage::OnReadConfig() { Send(res::kIdcReadMqtt, cmd::kReadMqtt, {}); }

void MqttPage::Send(int button, uint8_t code, std::span<const uint8_t> payload) {
  QString hex;
  // Asked at every send: the engineer may open or close the serial port at any time.
  const Link link = serial_.IsOpen() ? Link::Serial : Link::Udp;
  const bool sent = link == Link::Serial ? SendCommandSerial(serial_, code, payload, hex)
                                         : SendCommandUdp(udp_, code, payload, hex);
  // Logged as tried, as the configuration pages do; the serial page then says why it
  // failed and lets a port whose adapter has gone go.
  host_.AppendLog(SentFrameLine(link, hex));
  host_.SetStatusText(QString::fromUtf8(kStatusSent));
  if (!sent) {
    if (link == Link::Serial) host_.ReportSerialSendFailed();
    return;
  }
  // The configuration pages' buttons have the same captions: the page is named too.
  host_.AwaitAnswer(link, code, QStringLiteral("MQTT ") + LabelName(controls_.Button(button)->text()));
}

void MqttPage::HandleReply(const ReplyFrame& frame) {
  if (frame.Code() != cmd::kWriteMqtt && frame.Code() != cmd::kReadMqtt) return;
  // The payload is taken from the frame the link delivered and no further: a short reply
  // leaves the missing fields empty instead of showing older traffic from the buffer.
  ShowCredentials(DecodeMqtt(frame.Payload()));
  host_.SetStatusText(QString::fromUtf8(kStatusDone));
}

}  // namespace velmora
