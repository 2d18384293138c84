#include "config/ui/network_page.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QUdpSocket>

#include "widgets/controls.h"
#include "widgets/translation.h"
#include "core/modal_ui.h"
#include "transport/command_senders.h"
#include "transport/udp_endpoint.h"

namespace velmora {

namespace {

using namespace res;

// True when the system keeps the port for privileged programs and this one lacks the right.
bool RefusedForRights(quint16 port) {
  QUdpSocket probe;
  return !probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress) &&
         probe.error() == QAbstractSocket::SocketAccessError;
}

ConfigPageTraits NetworkTraits(UdpEndpoint& udp) {
  return ConfigPageTraits{
      NetworkConfigDialog(),
      kNetworkFormLists,
      [&udp](uint8_t code, std::span<const uint8_t> payload, QString& hex) {
        return SendCommandUdp(udp, code, payload, hex);
      },
      Link::Udp,
  };
}

}  // namespace

NetworkPage::NetworkPage(PageHost& host, UdpEndpoint& udp, ModalUi& modal, QWidget* parent)
    : ConfigFormPage(host, NetworkTraits(udp), parent), udp_(udp), modal_(modal) {
  Controls().Ip(kIdcBroadcastAddress)->setText(QStringLiteral("255.255.255.255"));
  BindClicks(Controls(), this, ClickTable<NetworkPage>{{kIdcOpenClose, &NetworkPage::OnOpenClose}});
}

QString NetworkPage::AddressText() const { return Controls().Ip(kIdcBroadcastAddress)->text(); }

void NetworkPage::ConnectTo(const QString& address) {
  if (udp_.IsOpen()) OnOpenClose();
  Controls().Ip(kIdcBroadcastAddress)->setText(address);
  OnOpenClose();
}

void NetworkPage::OnOpenClose() {
  IpAddressEdit* address = Controls().Ip(kIdcBroadcastAddress);
  QAbstractButton* button = Controls().Button(kIdcOpenClose);
  if (udp_.IsOpen()) {
    udp_.CloseEndpoint();
    SetCaption(button, staticMetaObject, QT_TR_NOOP("打开"));
    address->setEnabled(true);
    Log(tr("UDP_Server已断开连接:%1").arg(address->text()) + QLatin1String("\r\n"));
    Host().LinkChanged(Link::Udp, false);
    return;
  }
  const QString device = address->text();
  if (device == QLatin1String("0.0.0.0")) {
    modal_.ShowMessage(tr("连接的本地IP地址不能为空!"));
    return;
  }
  if (!udp_.OpenEndpoint(device)) {
    // Usually the local port is held by another program or needs rights this user lacks.
    Log(tr("UDP_Server建立连接失败,本地端口%1不可用.").arg(udp_.LocalPort()) + QLatin1String("\r\n"));
#ifdef Q_OS_LINUX
    if (RefusedForRights(udp_.LocalPort()))
      Log(tr("该端口需要root权限或CAP_NET_BIND_SERVICE能力,可执行: sudo setcap cap_net_bind_service=+ep %1")
              .arg(QCoreApplication::applicationFilePath()) +
          QLatin1String("\r\n"));
#endif
    return;
  }
  SetCaption(button, staticMetaObject, QT_TR_NOOP("关闭"));
  address->setEnabled(false);  // the device address cannot change while the link is open
  Log(tr("UDP_Server已建立连接:%1").arg(device) + QLatin1String("\r\n"));
  Host().LinkChanged(Link::Udp, true);
}

}  // namespace velmora
