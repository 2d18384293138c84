#pragma once
// The network configuration page ("ENET"): the configuration form over the UDP endpoint.

#include "config/ui/config_form_page.h"

namespace velmora {

class CUdpSocket;

class CDialog_Enet : public ConfigFormPage {
  Q_OBJECT
 public:
  explicit CDialog_Enet(CMorvaneDlg& main, QWidget* parent = nullptr);

 private:
  void OnOpenClose();

  CUdpSocket& udp_;
};

}  // namespace velmora
