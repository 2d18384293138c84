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

 private:
  void OnOpenClose();

  UdpEndpoint& udp_;
  ModalUi& modal_;
};

}  // namespace velmora
