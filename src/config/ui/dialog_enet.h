#pragma once
// The network configuration page ("ENET"): the configuration form over the UDP endpoint.

#include "config/ui/config_form_page.h"

namespace velmora {

class CUdpSocket;
class IModalUi;
struct AppServices;

class CDialog_Enet : public ConfigFormPage {
  Q_OBJECT
 public:
  CDialog_Enet(PageHost& host, AppServices& services, QWidget* parent = nullptr);

 private:
  void OnOpenClose();

  CUdpSocket& udp_;
  IModalUi& modal_;
};

}  // namespace velmora
