// Every control is reached with Tab alone, in the order the engineer reads the window,
// Shift+Tab walks the same way back, and the keys work the controls they reach.

#include <QAbstractItemView>
#include <QGroupBox>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <string>
#include <vector>

#include "console/ui/send_dialog.h"
#include "fota/ui/firmware_dialog.h"
#include "discovery/ui/devices_dialog.h"
#include "page_harness.h"
#include "records/ui/records_dialog.h"
#include "resources/config_layouts.h"
#include "resources/console_layout.h"
#include "widgets/log_pane.h"

namespace velmora {
namespace {

using test::PageHarness;
using test::WaitUntil;

// What the engineer works with: buttons, boxes, edits, lists, address boxes, the Log pane.
// An edit inside a drop-down list or an address box is part of that control.
bool Interactive(const QWidget* w) {
  if (qobject_cast<const QLineEdit*>(w)) return !qobject_cast<const QComboBox*>(w->parentWidget()) &&
                                                !qobject_cast<const IpAddressEdit*>(w->parentWidget());
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const IpAddressEdit*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
         qobject_cast<const LogPane*>(w) || qobject_cast<const QTabBar*>(w);
}

// Where Tab stops for a control: an address box stops at each of its four fields.
std::vector<QWidget*> Stops(QWidget* control) {
  if (auto* ip = qobject_cast<IpAddressEdit*>(control)) return {ip->Field(0), ip->Field(1), ip->Field(2), ip->Field(3)};
  return {control};
}

// Reading order of the controls a dialog layout placed on `host`: group by group, each
// group from the top down and then from the left, a control outside every group box
// reading as a group of its own; within a group row by row from the top and each row
// left to right. A control belongs to the group box its centre lies in. A row holds the
// controls whose centre lies within the height of the row's topmost control, so a check
// box beside a taller edit joins that edit's row.
std::vector<QWidget*> ReadingOrder(QWidget* host) {
  struct Group {
    QRect frame;
    std::vector<QWidget*> controls;
  };
  std::vector<Group> groups;
  for (QGroupBox* box : host->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
    groups.push_back({box->geometry(), {}});
  }
  for (QWidget* w : host->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!Interactive(w) || !w->isVisibleTo(host) || !w->isEnabled()) continue;
    const auto in = std::find_if(groups.begin(), groups.end(),
                                 [&](const Group& g) { return g.frame.contains(w->geometry().center()); });
    if (in != groups.end()) {
      in->controls.push_back(w);
    } else {
      groups.push_back({w->geometry(), {w}});
    }
  }
  std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    return a.frame.top() != b.frame.top() ? a.frame.top() < b.frame.top() : a.frame.left() < b.frame.left();
  });
  std::vector<QWidget*> order;
  for (Group& g : groups) {
    std::stable_sort(g.controls.begin(), g.controls.end(),
                     [](QWidget* a, QWidget* b) { return a->geometry().center().y() < b->geometry().center().y(); });
    for (std::size_t first = 0; first < g.controls.size();) {
      const QRect lead = g.controls[first]->geometry();
      std::size_t end = first + 1;
      while (end < g.controls.size() && g.controls[end]->geometry().center().y() <= lead.bottom()) ++end;
      std::stable_sort(g.controls.begin() + static_cast<std::ptrdiff_t>(first),
                       g.controls.begin() + static_cast<std::ptrdiff_t>(end),
                       [](QWidget* a, QWidget* b) { return a->geometry().left() < b->geometry().left(); });
      for (std::size_t i = first; i < end; ++i) {
        for (QWidget* stop : Stops(g.controls[i])) order.push_back(stop);
      }
      first = end;
    }
  }
  return order;
}

// The main window reads as two columns: the tab control, then the Log pane beside it. The
// tab control reads its tab row (the tabs, then the corner's buttons left to right), then
// the page it shows.
std::vector<QWidget*> WindowReadingOrder(const MainWindow& window) {
  QTabWidget* tabs = window.Tabs();
  std::vector<QWidget*> order{tabs->tabBar()};
  QList<QWidget*> corner = tabs->cornerWidget(Qt::TopRightCorner)->findChildren<QWidget*>();
  corner.removeIf([](QWidget* w) { return !Interactive(w) || !w->isVisible(); });
  std::stable_sort(corner.begin(), corner.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
  order.insert(order.end(), corner.begin(), corner.end());
  const std::vector<QWidget*> page = ReadingOrder(tabs->currentWidget());
  order.insert(order.end(), page.begin(), page.end());
  order.push_back(window.Log());
  return order;
}

// How a stop reads in a failure message: id and caption or accessible name; an address
// field as its box's name with the field's place.
QString StopName(const QWidget* w) {
  if (!w) return QStringLiteral("<no focus>");
  if (auto* ip = qobject_cast<const IpAddressEdit*>(w->parentWidget())) {
    for (int i = 0; i < 4; ++i) {
      if (ip->Field(i) == w) {
        return QStringLiteral("%1 %2 %3/4").arg(ControlId(ip)).arg(ip->accessibleName()).arg(i + 1);
      }
    }
  }
  if (qobject_cast<const QTabBar*>(w)) return QStringLiteral("tabs");
  const auto* button = qobject_cast<const QAbstractButton*>(w);
  const QString name = button && !button->text().isEmpty() ? button->text() : w->accessibleName();
  return QStringLiteral("%1 %2").arg(ControlId(w)).arg(name);
}

// One stop a line, so a failure shows where the walks part.
std::string Names(const std::vector<QWidget*>& stops) {
  QStringList out;
  for (const QWidget* w : stops) out << StopName(w);
  return out.join(QLatin1Char('\n')).toStdString();
}

void Activate(QWidget* window) {
  window->activateWindow();
  QApplication::setActiveWindow(window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr) << "nothing has the keyboard focus";
  QTest::keyClick(focus, key, mods);
}

// The focus stops from `start` on, pressing Tab (or Shift+Tab) until the focus comes back
// to where it started; at most `most` presses, so a control that keeps Tab shows as
// a stop repeated.
std::vector<QWidget*> Cycle(QWidget* start, bool forward, std::size_t most) {
  start->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() != nullptr; }));
  std::vector<QWidget*> stops{QApplication::focusWidget()};
  for (std::size_t i = 0; i < most; ++i) {
    Press(Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
    if (QApplication::focusWidget() == stops.front()) return stops;
    stops.push_back(QApplication::focusWidget());
  }
  ADD_FAILURE() << "Tab never came back to " << StopName(stops.front()).toStdString();
  return stops;
}

// Tab reaches every control once, in reading order, and Shift+Tab retraces it.
void ExpectTabWalk(QWidget* window, const std::vector<QWidget*>& reading, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(reading.empty());
  ASSERT_NO_FATAL_FAILURE(Activate(window));
  const std::vector<QWidget*> forward = Cycle(reading.front(), true, reading.size() + 4);
  EXPECT_EQ(Names(forward), Names(reading));
  std::vector<QWidget*> back{reading.front()};
  back.insert(back.end(), reading.rbegin(), reading.rend() - 1);
  const std::vector<QWidget*> backward = Cycle(reading.front(), false, reading.size() + 4);
  EXPECT_EQ(Names(backward), Names(back));
}

// Presses Tab until `target` (or the field it hands the focus to) has the focus.
bool TabTo(QWidget* target) {
  QWidget* want = target->focusProxy() ? target->focusProxy() : target;
  for (int i = 0; i < 100 && QApplication::focusWidget() != want; ++i) Press(Qt::Key_Tab);
  return QApplication::focusWidget() == want;
}

TEST(KeyboardReach, EveryControlOfEveryPageAndDialogInReadingOrderBothWays) {
  PageHarness app;
  // Tab must leave the Log pane even when it holds text.
  app.window->AppendLog(QStringLiteral("entry\r\n"));

  for (int page : {MainWindow::kSerialPage, MainWindow::kNetworkPage, MainWindow::kMqttPage}) {
    app.window->ShowPage(page);
    const std::vector<QWidget*> reading = WindowReadingOrder(*app.window);
    // The reading order itself covers the controls that matter.
    ASSERT_GE(reading.size(), page == MainWindow::kMqttPage ? 9u : 40u);
    ExpectTabWalk(app.window.get(), reading, qPrintable(app.window->Tabs()->tabText(page)));
  }

  // The record dialog, with rows in its list: Tab must not stay in the list's cells.
  RecordsDialog* records = app.window->Records();
  records->AddRecord({QStringLiteral("1"), QStringLiteral("a")});
  records->AddRecord({QStringLiteral("2"), QStringLiteral("b")});
  records->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(records));
  const std::vector<QWidget*> record_order = ReadingOrder(records);
  ASSERT_EQ(record_order.size(), 4u);
  ExpectTabWalk(records, record_order, "records");
  records->hide();

  app.window->OpenFirmwareDialog(Link::Serial);
  FirmwareDialog* fota = app.window->Firmware();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fota));
  const std::vector<QWidget*> fota_order = ReadingOrder(fota);
  ASSERT_EQ(fota_order.size(), 4u);
  ExpectTabWalk(fota, fota_order, "firmware");
  fota->hide();

  // The devices dialog: the list, then its buttons (连接 waits for a chosen row).
  app.window->OpenDevicesDialog();
  DevicesDialog* devices = app.window->Devices();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(devices));
  const std::vector<QWidget*> devices_order = ReadingOrder(devices);
  ASSERT_EQ(devices_order.size(), 3u);
  ExpectTabWalk(devices, devices_order, "devices");

  // The send console with both links open and text chosen, so every control takes part.
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  app.OpenSerialOn(pty);
  app.OpenNetworkOnLoopback();
  app.window->OpenSendDialog();
  SendDialog* console = app.window->Console();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(console));
  app.Choose(*console, res::kIdcConsoleFormat, QString::fromUtf8("文本"));
  const std::vector<QWidget*> console_order = ReadingOrder(console);
  ASSERT_EQ(console_order.size(), 5u);
  ExpectTabWalk(console, console_order, "console");
}

TEST(KeyboardReach, SpacePressesAndTogglesArrowsChooseOnTheSerialPage) {
  PageHarness app;
  app.window->ShowPage(MainWindow::kSerialPage);
  ASSERT_NO_FATAL_FAILURE(Activate(app.window.get()));
  app.window->Tabs()->tabBar()->setFocus(Qt::TabFocusReason);
  const QWidget& page = app.Serial();

  // The DHCP box toggles, and the addresses DHCP assigns go out of reach.
  QAbstractButton* dhcp = PageHarness::Button(page, res::kIdcDhcp);
  ASSERT_FALSE(dhcp->isChecked());
  ASSERT_TRUE(TabTo(dhcp));
  Press(Qt::Key_Space);
  EXPECT_TRUE(dhcp->isChecked());
  EXPECT_FALSE(PageHarness::Ip(page, res::kIdcLocalIp)->isEnabled());
  Press(Qt::Key_Space);
  EXPECT_FALSE(dhcp->isChecked());
  EXPECT_TRUE(PageHarness::Ip(page, res::kIdcLocalIp)->isEnabled());

  // The list moves by one item per arrow.
  QComboBox* baud = PageHarness::Combo(page, res::kIdcUartBaud);
  const int before = ListPosition(baud);
  ASSERT_GE(before, 0);
  ASSERT_LT(before + 1, baud->count());
  ASSERT_TRUE(TabTo(baud));
  Press(Qt::Key_Down);
  EXPECT_EQ(ListPosition(baud), before + 1);
  Press(Qt::Key_Up);
  EXPECT_EQ(ListPosition(baud), before);

  // The MAC button makes an address in the box before it.
  LineEdit* mac = PageHarness::Edit(page, res::kIdcMac);
  ASSERT_TRUE(mac->text().isEmpty());
  ASSERT_TRUE(TabTo(PageHarness::Button(page, res::kIdcGenerateMac)));
  Press(Qt::Key_Space);
  EXPECT_EQ(mac->text().simplified().split(QLatin1Char(' ')).size(), 6) << mac->text().toStdString();
}

}  // namespace
}  // namespace velmora
