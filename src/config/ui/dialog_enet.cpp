#include "config/ui/dialog_enet.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QUdpSocket>

#include "widgets/controls.h"
#include "core/modal_ui.h"
#include "transport/app_services.h"
#include "transport/command_senders.h"
#include "transport/udp_endpoint.h"

namespace velmora {

namespace {

using namespace res;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// True when the system keeps the port for privileged programs and this one lacks the right.
bool RefusedForRights(quint16 port) {
  QUdpSocket probe;
  return !probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress) &&
         probe.error() == QAbstractSocket::SocketAccessError;
}

ConfigPageTraits NetworkTraits(CUdpSocket& udp) {
  return ConfigPageTraits{
      NetworkConfigDialog(),
      kNetworkFormLists,
      [&udp](uint8_t code, std::span<const uint8_t> payload, QString& hex) {
        SendCommandUdp(udp, code, payload, hex);
        return true;
      },
      "UDP发送:",
      Link::Udp,
  };
}

}  // namespace

CDialog_Enet::CDialog_Enet(PageHost& host, AppServices& services, QWidget* parent)
    : ConfigFormPage(host, NetworkTraits(services.udp), parent), udp_(services.udp), modal_(services.modal) {
  Controls().Ip(kIdcBroadcastAddress)->setText(QStringLiteral("255.255.255.255"));
  BindClicks(Controls(), this, ClickTable<CDialog_Enet>{{kIdcOpenClose, &CDialog_Enet::OnOpenClose}});
}

void CDialog_Enet::OnOpenClose() {
  IpAddressEdit* address = Controls().Ip(kIdcBroadcastAddress);
  QAbstractButton* button = Controls().Button(kIdcOpenClose);
  if (udp_.IsOpen()) {
    udp_.CloseEndpoint();
    button->setText(U("打开"));
    address->setEnabled(true);
    Log(U("UDP_Server已断开连接:") + address->text() + QLatin1String("\r\n"));
    return;
  }
  const QString device = address->text();
  if (device == QLatin1String("0.0.0.0")) {
    modal_.ShowMessage(U("连接的本地IP地址不能为空!"));
    return;
  }
  if (!udp_.OpenEndpoint(device)) {
    // Usually the local port is held by another program or needs rights this user lacks.
    Log(U("UDP_Server建立连接失败,本地端口%1不可用.\r\n").arg(udp_.LocalPort()));
#ifdef Q_OS_LINUX
    if (RefusedForRights(udp_.LocalPort()))
      Log(U("该端口需要root权限或CAP_NET_BIND_SERVICE能力,可执行: sudo setcap cap_net_bind_service=+ep %1\r\n")
              .arg(QCoreApplication::applicationFilePath()));
#endif
    return;
  }
  button->setText(U("关闭"));
  address->setEnabled(false);  // the device address cannot change while the link is open
  Log(U("UDP_Server已建立连接:") + device + QLatin1String("\r\n"));
}

}  // namespace velmora
