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

namespace velmora::test {

inline LocalTime FixedTime() { return LocalTime{2021, 3, 9, 14, 5, 59, 7}; }

struct AppFixture {
  ReceiveState rx;
  FakeModalUi modal;
  AppServices services{rx, modal};
  std::unique_ptr<CMorvaneDlg> window;

  AppFixture() {
    window = std::make_unique<CMorvaneDlg>(services);
    window->SetClock(FixedTime);
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
  }
  ~AppFixture() { window.reset(); }

  // The Log pane's text with line ends as the pane stores them.
  QString LogText() const;
};

// The popup menus currently shown.
QList<QMenu*> VisibleMenus();
void CloseMenus();

}  // namespace velmora::test
