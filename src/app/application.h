#pragma once

#include <QIcon>

#include <memory>

#include "protocol/receive_state.h"
#include "app/app_services.h"
#include "widgets/qt_modal_ui.h"

namespace velmora {

class MainWindow;

// The program-wide objects and the main window, made in the order they are torn down in
// reverse. Needs the QApplication, and is gone before it: when this is destroyed, every
// serial reader thread has ended, even one held up by a line that does not move.
class Application {
 public:
  Application();
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  MainWindow& Window() { return *window_; }
  AppServices& Services() { return services_; }
  QtModalUi& Modal() { return modal_; }

 private:
  ReceiveState rx_;
  QtModalUi modal_;
  SerialPort serial_{rx_};
  UdpEndpoint udp_{rx_, modal_};
  AppServices services_{rx_, modal_, serial_, udp_};
  std::unique_ptr<MainWindow> window_;
};

// The application icon, drawn rather than shipped as a file.
QIcon AppIcon();

// Asks the system to wake the pump's timer on time rather than up to 50 us late;
// call it before any thread is started, so they all inherit it.
void TightenTimerSlack();

// Creates the application, runs the main window and returns when it closes.
int RunApplication(int argc, char** argv);

}  // namespace velmora
