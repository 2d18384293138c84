#pragma once
// The serial configuration page ("USART"): the configuration form over the COM port.

#include "config/ui/config_form_page.h"

namespace velmora {

class CXSerial;

class CDialog_Usart : public ConfigFormPage {
  Q_OBJECT
 public:
  explicit CDialog_Usart(CMorvaneDlg& main, QWidget* parent = nullptr);

  // Lists the ports that can be opened now and selects the first.
  void RefreshPorts();

 protected:
  void OnSendFailed() override;

 private:
  void OnOpenClose();
  void ShowLinkState(bool open);

  CXSerial& serial_;
};

}  // namespace velmora
