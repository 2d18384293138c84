#include "config/ui/config_form_page.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>

#include <algorithm>

#include "widgets/accessibility.h"
#include "widgets/controls.h"
#include "widgets/translation.h"
#include "config/config_defaults.h"
#include "config/mac_generator.h"
#include "log/traffic_log.h"
#include "protocol/gbk.h"
#include "protocol/text_field.h"

namespace velmora {

namespace {

using namespace res;

constexpr std::size_t kClockBytes = 6;

}  // namespace

ConfigFormPage::ConfigFormPage(PageHost& host, ConfigPageTraits traits, QWidget* parent)
    : QWidget(parent), host_(host), traits_(std::move(traits)) {
  controls_ = BuildDialog(traits_.layout, this);

  // The resource text "目标端口:" stays until the network mode first changes.
  Fill(DefaultConfigForm(), Rules::Keep);

  BindClicks(controls_, this,
             ClickTable<ConfigFormPage>{
                 {kIdcDhcp, &ConfigFormPage::OnDhcp},
                 {kIdcGenerateMac, &ConfigFormPage::OnGenerateMac},
                 {kIdcWriteConfig, &ConfigFormPage::OnWriteConfig},
                 {kIdcReadConfig, &ConfigFormPage::OnReadConfig},
                 {kIdcReadVersion, &ConfigFormPage::OnReadVersion},
                 {kIdcSoftwareReset, &ConfigFormPage::OnSoftwareReset},
                 {kIdcReadCsq, &ConfigFormPage::OnReadCsq},
                 {kIdcSyncClock, &ConfigFormPage::OnSyncClock},
                 {kIdcFota, &ConfigFormPage::OnFota},
             });
  connect(controls_.Combo(kIdcNetMode), &QComboBox::currentIndexChanged, this, [this] { ApplyNetModeRule(); });
}

void ConfigFormPage::Log(const QString& text) const { host_.AppendLog(text); }

ConfigForm ConfigFormPage::ReadForm() const {
  const ControlMap& c = controls_;
  auto text = [&](int id) { return ToGbk(c.Edit(id)->text()); };
  ConfigForm f;
  f.local_ip = c.Ip(kIdcLocalIp)->Octets();
  f.subnet_mask = c.Ip(kIdcSubnetMask)->Octets();
  f.gateway = c.Ip(kIdcGateway)->Octets();
  f.dhcp = c.Button(kIdcDhcp)->isChecked();
  f.server_ip = c.Ip(kIdcServerIp)->Octets();
  f.eth_port = text(kIdcEthPort);
  f.net_mode = ListPosition(c.Combo(kIdcNetMode));
  f.domain = text(kIdcDomain);
  f.ip0_domain = text(kIdcIp0Domain);
  f.ip0_domain_port = text(kIdcIp0DomainPort);
  f.ip0_addr = c.Ip(kIdcIp0Addr)->Octets();
  f.ip0_addr_port = text(kIdcIp0AddrPort);
  f.ip1_addr = c.Ip(kIdcIp1Addr)->Octets();
  f.ip1_port = text(kIdcIp1Port);
  f.lora_freq = text(kIdcLoraFreq);
  f.sleep_time = ListPosition(c.Combo(kIdcSleepTime));
  f.breathe_time = ListPosition(c.Combo(kIdcBreatheTime));
  f.lora_net_addr = text(kIdcLoraNetAddr);
  f.tx_power = ListPosition(c.Combo(traits_.lists.tx_power));
  f.uart_baud = ListPosition(c.Combo(kIdcUartBaud));
  f.uart_parity = ListPosition(c.Combo(kIdcUartParity));
  f.uart_mode = ListPosition(c.Combo(kIdcUartMode));
  f.uart_map = ListPosition(c.Combo(traits_.lists.uart_map));
  f.heartbeat = text(kIdcHeartbeat);
  f.register_data = text(kIdcRegister);
  f.hex = c.Button(kIdcHex)->isChecked();
  f.mac = text(kIdcMac);
  return f;
}

void ConfigFormPage::ShowForm(const ConfigForm& form) { Fill(form, Rules::Apply); }

void ConfigFormPage::ShowSavedForm(const ConfigForm& form) {
  controls_.Button(kIdcHex)->setChecked(form.hex);
  ShowForm(form);
}

void ConfigFormPage::Fill(const ConfigForm& f, Rules rules) {
  const ControlMap& c = controls_;
  auto set_text = [&](int id, const std::string& gbk) { c.Edit(id)->setText(FromGbk(gbk)); };
  c.Ip(kIdcLocalIp)->SetOctets(f.local_ip);
  c.Ip(kIdcSubnetMask)->SetOctets(f.subnet_mask);
  c.Ip(kIdcGateway)->SetOctets(f.gateway);
  c.Ip(kIdcServerIp)->SetOctets(f.server_ip);
  set_text(kIdcEthPort, f.eth_port);
  set_text(kIdcDomain, f.domain);
  c.Ip(kIdcIp0Addr)->SetOctets(f.ip0_addr);
  set_text(kIdcIp0AddrPort, f.ip0_addr_port);
  c.Ip(kIdcIp1Addr)->SetOctets(f.ip1_addr);
  set_text(kIdcIp1Port, f.ip1_port);
  c.Button(kIdcDhcp)->setChecked(f.dhcp);
  if (rules == Rules::Apply) ApplyDhcpRule();
  {
    // The rule runs once, below, whether or not the position changed.
    const QSignalBlocker quiet(c.Combo(kIdcNetMode));
    SetListPosition(c.Combo(kIdcNetMode), f.net_mode);
  }
  if (rules == Rules::Apply) ApplyNetModeRule();
  set_text(kIdcIp0Domain, f.ip0_domain);
  set_text(kIdcIp0DomainPort, f.ip0_domain_port);
  set_text(kIdcIp0AddrPort, f.ip0_addr_port);
  set_text(kIdcLoraFreq, f.lora_freq);
  SetListPosition(c.Combo(kIdcSleepTime), f.sleep_time);
  SetListPosition(c.Combo(kIdcBreatheTime), f.breathe_time);
  set_text(kIdcLoraNetAddr, f.lora_net_addr);
  SetListPosition(c.Combo(traits_.lists.tx_power), f.tx_power);
  SetListPosition(c.Combo(kIdcUartBaud), f.uart_baud);
  SetListPosition(c.Combo(kIdcUartParity), f.uart_parity);
  SetListPosition(c.Combo(kIdcUartMode), f.uart_mode);
  SetListPosition(c.Combo(traits_.lists.uart_map), f.uart_map);
  if (f.heartbeat) set_text(kIdcHeartbeat, *f.heartbeat);
  if (f.register_data) set_text(kIdcRegister, *f.register_data);
  set_text(kIdcMac, f.mac);
}

void ConfigFormPage::ApplyDhcpRule() {
  const bool dhcp = controls_.Button(kIdcDhcp)->isChecked();
  for (int id : {kIdcLocalIp, kIdcSubnetMask, kIdcGateway}) SetEnabled(id, !dhcp);
}

void ConfigFormPage::SetEnabled(int id, bool enabled) {
  QWidget* control = controls_.Get(id);
  QWidget* focus = window()->focusWidget();
  if (!enabled && focus && (focus == control || control->isAncestorOf(focus))) {
    // A reply can disable the box being typed in. Qt would pass the focus on to the next
    // control and the engineer's next keys would land in a field they never chose; the
    // page holds the focus instead, and those keys go nowhere.
    setFocus(Qt::OtherFocusReason);
  }
  control->setEnabled(enabled);
}

void ConfigFormPage::ApplyNetModeRule() {
  const bool server = ListPosition(controls_.Combo(kIdcNetMode)) == 1;  // "TCP Server"
  SetEnabled(kIdcServerIp, !server);
  SetEnabled(kIdcDomain, !server);
  SetCaption(controls_.Label(kIdcPortLabel), staticMetaObject, server ? QT_TR_NOOP("本地端口") : QT_TR_NOOP("目标端口"));
}

void ConfigFormPage::OnDhcp() { ApplyDhcpRule(); }

void ConfigFormPage::OnGenerateMac() {
  controls_.Edit(kIdcMac)->setText(MacText(MacFromMilliseconds(LocalMilliseconds(clock_()))));
}

void ConfigFormPage::Send(int button, uint8_t code, std::span<const uint8_t> payload) {
  QString hex;
  const bool sent = traits_.send(code, payload, hex);
  // Logged whether or not the link took the frame: the engineer sees what was attempted.
  Log(SentFrameLine(traits_.link, hex));
  host_.SetStatusText(QStringLiteral("...."));
  if (!sent) {
    OnSendFailed();
    return;
  }
  host_.AwaitAnswer(traits_.link, code, LabelName(controls_.Button(button)->text()));
}

void ConfigFormPage::OnWriteConfig() {
  if (!host_.MaySendToAll(traits_.link, controls_.Button(kIdcWriteConfig)->text())) return;
  const ConfigRecord record = EncodeConfig(ReadForm());
  Send(kIdcWriteConfig, cmd::kWriteConfig, record);
}

void ConfigFormPage::OnReadConfig() { Send(kIdcReadConfig, cmd::kReadConfig); }
void ConfigFormPage::OnReadVersion() { Send(kIdcReadVersion, cmd::kReadVersion); }
void ConfigFormPage::OnSoftwareReset() {
  if (!host_.MaySendToAll(traits_.link, controls_.Button(kIdcSoftwareReset)->text())) return;
  Send(kIdcSoftwareReset, cmd::kSoftwareReset);
}
void ConfigFormPage::OnReadCsq() { Send(kIdcReadCsq, cmd::kReadCsq); }

void ConfigFormPage::OnSyncClock() {
  const auto payload = ClockPayload(clock_());
  Send(kIdcSyncClock, cmd::kSyncClock, payload);
}

void ConfigFormPage::ShowUpload(bool running, Link link) {
  // Readers take the tooltip as the button's description.
  SetToolTip(controls_.Get(kIdcFota), staticMetaObject,
             !running                  ? nullptr
             : link == Link::Serial ? QT_TR_NOOP("固件正在通过串口升级")
                                    : QT_TR_NOOP("固件正在通过UDP升级"));
}

void ConfigFormPage::OnFota() {
  host_.OpenFirmwareDialog(traits_.link);
}

void ConfigFormPage::HandleReply(const ReplyFrame& frame) {
  switch (frame.Code()) {
    case cmd::kWriteConfig:
    case cmd::kReadConfig:
      ShowForm(DecodeConfig(frame.Payload(), controls_.Button(kIdcHex)->isChecked()));
      break;
    case cmd::kReadVersion:
      ShowVersion(frame);
      break;
    case cmd::kSoftwareReset:
      Log(tr("软件复位成功. ") + QLatin1String("\r\n"));
      break;
    case cmd::kFirmware:
      break;
    case cmd::kReadCsq:
      if (!ShowCsq(frame)) return;
      break;
    case cmd::kSyncClock:
      if (!ShowClock(frame)) return;
      break;
    default:
      return;  // MQTT codes, 0xE8 to 0xEA and anything unknown: not this page's business
  }
  host_.SetStatusText(QStringLiteral("Successful!"));
}

void ConfigFormPage::ShowVersion(const ReplyFrame& frame) {
  // The whole text the device sent, up to its first zero byte; never past the frame.
  const QString version = FromGbk(TextFieldBytes(frame.Payload()));
  Log(tr("读取版本成功. ") + QLatin1String("\r\n"));
  Log(version + QLatin1String("\r\n"));
}

// A CSQ or clock reply whose payload is too short to hold the value is reported as such:
// the byte after a short payload is the device's checksum, not a reading.
bool ConfigFormPage::ShowCsq(const ReplyFrame& frame) {
  const auto data = frame.Payload();
  if (data.empty()) {
    Log(tr("获取CSQ应答不完整: 没有CSQ数据. ") + QLatin1String("\r\n"));
    return false;
  }
  Log(tr("获取CSQ成功,CSQ:%1 ").arg(data[0]) + QLatin1String("\r\n"));
  return true;
}

bool ConfigFormPage::ShowClock(const ReplyFrame& frame) {
  const auto b = frame.Payload();
  if (b.size() < kClockBytes) {
    Log(tr("同步时钟应答不完整: 只有%1字节. ").arg(b.size()) + QLatin1String("\r\n"));
    return false;
  }
  const QString stamp = QString::asprintf("%02X-%02X-%02X %02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  Log(tr("同步时钟成功: %1 ").arg(stamp) + QLatin1String("\r\n"));
  return true;
}

}  // namespace velmora
