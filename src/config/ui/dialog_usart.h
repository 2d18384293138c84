#pragma once
// The serial configuration page ("USART"): the configuration form over the COM port.

#include "config/ui/config_form_page.h"

namespace velmora {

class CXSerial;
struct AppServices;

class CDialog_Usart : public ConfigFormPage {
  Q_OBJECT
 public:
  CDialog_Usart(PageHost& host, AppServices& services, QWidget* parent = nullptr);

  // Lists the ports that can be opened now and selects the first.
  void RefreshPorts();

  // A write to the port failed, from this page or another: said in the Log pane; a port
  // whose adapter has gone is closed and shown closed.
  void HandleSerialSendFailed();

 protected:
  void OnSendFailed() override { HandleSerialSendFailed(); }

 private:
  void OnOpenClose();
  void ShowLinkState(bool open);

  CXSerial& serial_;
};

}  // namespace velmora
