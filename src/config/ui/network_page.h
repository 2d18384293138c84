#pragma once
// The network configuration page ("ENET"): the configuration form over the UDP endpoint.

#include "config/ui/config_form_page.h"

namespace velmora {

class UdpEndpoint;
class ModalUi;

class NetworkPage : public ConfigFormPage {
  Q_OBJECT
 public:
  NetworkPage(PageHost& host, UdpEndpoint& udp, ModalUi& modal, QWidget* parent = nullptr);

  // The broadcast address box's text.
  QString AddressText() const;
  // Points the link at one device: its address into the box, then the link opened (closed
  // first when it was open), as the engineer would with 打开.
  void ConnectTo(const QString& address);

 private:
  void OnOpenClose();

  UdpEndpoint& udp_;
  ModalUi& modal_;
};

}  // namespace velmora
