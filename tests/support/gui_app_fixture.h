#pragma once
// A main window with its program-wide objects, for offscreen GUI tests.

#include <QApplication>
#include <QMenu>
#include <QTest>

#include <memory>

#include "app/app_services.h"
#include "app/main_window.h"
#include "protocol/receive_state.h"
#include "support/fake_modal_ui.h"
#include "support/udp_test_port.h"

namespace velmora::test {

inline LocalTime FixedTime() { return LocalTime{2021, 3, 9, 14, 5, 59, 7}; }

struct AppFixture {
  ReceiveState rx;
  FakeModalUi modal;
  SerialPort serial{rx};
  // Free loopback ports stand in for 20 and 21.
  quint16 udp_local_port = FreeUdpPort();
  quint16 udp_device_port = FreeUdpPort();
  UdpEndpoint udp{rx, modal, udp_local_port, udp_device_port};
  AppServices services{rx, modal, serial, udp};
  std::unique_ptr<MainWindow> window;

  AppFixture() {
    window = std::make_unique<MainWindow>(services);
    window->SetClock(FixedTime);
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
  }
  ~AppFixture() { window.reset(); }

  // The Log pane's text with line ends as the pane stores them.
  QString LogText() const;
};

// The built velmora program.
QString AppProgram();

// The popup menus currently shown.
QList<QMenu*> VisibleMenus();
// The item of `menu` with this text, or null.
QAction* MenuItem(const QMenu* menu, const QString& text);
void CloseMenus();

}  // namespace velmora::test
