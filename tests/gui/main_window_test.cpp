#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "widgets/log_pane.h"
#include "records/ui/records_dialog.h"
#include "support/gui_app_fixture.h"

namespace velmora {
namespace {

using test::AppFixture;

void RightClick(QWidget* w) {
  const QPoint local(w->width() / 2, w->height() / 2);
  QContextMenuEvent ev(QContextMenuEvent::Mouse, local, w->mapToGlobal(local));
  QApplication::sendEvent(w, &ev);
  QApplication::processEvents();
}

QAction* MenuAction(const QString& text) {
  for (QMenu* m : test::VisibleMenus()) {
    if (QAction* a = test::MenuItem(m, text)) return a;
  }
  return nullptr;
}

TEST(MainWindow, StartsOnTheSerialPageWithIdleStatus) {
  AppFixture app;
  MainWindow& w = *app.window;
  EXPECT_EQ(w.windowTitle(), QString("Velmora v1.2"));
  auto* tabs = qobject_cast<QTabWidget*>(FindControl(&w, 1052));
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), "USART");
  EXPECT_EQ(tabs->tabText(1), "ENET");
  EXPECT_EQ(tabs->tabText(2), "MQTT");
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_TRUE(w.Page(0)->isVisible());
  EXPECT_FALSE(w.Page(1)->isVisible());
  EXPECT_FALSE(w.Page(2)->isVisible());
  auto* status = qobject_cast<QLabel*>(FindControl(&w, 1005));
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(), "....");
  EXPECT_TRUE(status->alignment() & Qt::AlignHCenter);
  EXPECT_NE(FindControl(&w, 1049), nullptr);
  EXPECT_TRUE(app.LogText().isEmpty());
}

TEST(MainWindow, PagesSwitchByClickByKeyboardAndByShowPage) {
  AppFixture app;
  MainWindow& w = *app.window;
  QTabBar* bar = w.Tabs()->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
  EXPECT_TRUE(w.Page(2)->isVisible());
  EXPECT_FALSE(w.Page(0)->isVisible());
  // Keyboard selection moves the page along with the tab.
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_Left);
  EXPECT_EQ(w.Tabs()->currentIndex(), 1);
  EXPECT_TRUE(w.Page(1)->isVisible());
  EXPECT_FALSE(w.Page(2)->isVisible());
  w.ShowPage(0);
  EXPECT_TRUE(w.Page(0)->isVisible());
  w.ShowPage(3);
  w.ShowPage(-1);
  EXPECT_EQ(w.Tabs()->currentIndex(), 0);
  EXPECT_TRUE(w.Page(0)->isVisible());
}

TEST(MainWindow, LogEntryIsAStampLineThenTheText) {
  AppFixture app;
  app.window->AppendLog("abc\r\n");
  EXPECT_EQ(app.LogText(), QString("[2021-03-09 14:05:59 7] \nabc\n"));
  EXPECT_EQ(LogStamp(LocalTime{2099, 12, 31, 23, 59, 59, 999}), QString("[2099-12-31 23:59:59 999] \r\n"));
  EXPECT_EQ(LogStamp(LocalTime{2021, 1, 2, 3, 4, 5, 0}), QString("[2021-01-02 03:04:05 0] \r\n"));
  // Fields wider than the stamp's own are written whole, as ever.
  EXPECT_EQ(LogStamp(LocalTime{12345, 1, 2, 3, 4, 5, 1000000000}), QString("[12345-01-02 03:04:05 1000000000] \r\n"));
  EXPECT_EQ(LogStamp(LocalTime{2021, -1, 2, 3, 4, 5, 6}), QString("[2021--1-02 03:04:05 6] \r\n"));
}

TEST(MainWindow, EntriesGoToTheEndWhateverTheCaretAndTypedTextStays) {
  AppFixture app;
  MainWindow& w = *app.window;
  w.AppendLog("first\r\n");
  LogPane* log = w.Log();
  log->Flush();
  log->setFocus();
  log->SetCaret(0);
  QTest::keyClicks(log, "note ");
  w.AppendLog("second\r\n");
  const QString text = app.LogText();
  EXPECT_TRUE(text.startsWith("note [2021-03-09"));
  EXPECT_TRUE(text.endsWith("[2021-03-09 14:05:59 7] \nsecond\n")) << text.toStdString();
  // The caret stays where the engineer left it.
  EXPECT_EQ(log->CaretPosition(), 5);
}

TEST(MainWindow, ClearThenANewEntryLeavesExactlyThatEntry) {
  AppFixture app;
  MainWindow& w = *app.window;
  for (int i = 0; i < 5; ++i) w.AppendLog(QString("line %1\r\n").arg(i));
  RightClick(w.Log()->viewport());
  QAction* clear = MenuAction("Clear");
  ASSERT_NE(clear, nullptr);
  clear->trigger();
  test::CloseMenus();
  EXPECT_TRUE(app.LogText().isEmpty());
  w.AppendLog("after\r\n");
  EXPECT_EQ(app.LogText(), QString("[2021-03-09 14:05:59 7] \nafter\n"));
}

TEST(MainWindow, CopyPutsTheSelectionOnTheClipboard) {
  AppFixture app;
  MainWindow& w = *app.window;
  w.AppendLog("F5 80 E2 00 57 0D \r\n");
  w.Log()->Flush();
  // The whole second line: the entry's text behind its stamp line.
  const QString shown = w.Log()->toPlainText();
  const qsizetype second = shown.indexOf('\n') + 1;
  w.Log()->Select(second, shown.indexOf('\n', second));
  RightClick(w.Log()->viewport());
  QAction* copy = MenuAction("Copy");
  ASSERT_NE(copy, nullptr);
  copy->trigger();
  test::CloseMenus();
  EXPECT_EQ(QApplication::clipboard()->text(), QString("F5 80 E2 00 57 0D "));
}

TEST(MainWindow, ContextMenuOnlyOnTheLogPane) {
  AppFixture app;
  MainWindow& w = *app.window;
  RightClick(w.Page(0));
  RightClick(w.Tabs());
  RightClick(w.Tabs()->tabBar());
  RightClick(&w);
  EXPECT_TRUE(test::VisibleMenus().isEmpty());
  RightClick(w.Log()->viewport());
  const auto menus = test::VisibleMenus();
  ASSERT_EQ(menus.size(), 1);
  QStringList items;
  for (QAction* a : menus[0]->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{"Copy", "Clear", "全选", "查找...", "另存为...", "", "保存会话日志"}));
  test::CloseMenus();
}

TEST(MainWindow, AboutBoxShowsItsTextAndClosesWithOk) {
  AppFixture app;
  app.window->ShowAbout();
  QDialog* about = nullptr;
  for (QWidget* tw : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<QDialog*>(tw); d && d->isVisible() && d->windowTitle() == QString::fromUtf8("关于 Morvane")) about = d;
  }
  ASSERT_NE(about, nullptr);
  QStringList labels;
  for (QLabel* l : about->findChildren<QLabel*>()) labels << l->text();
  EXPECT_TRUE(labels.contains(QString::fromUtf8("Morvane，1.0 版")));
  auto* ok = qobject_cast<QPushButton*>(FindControl(about, 1));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QString::fromUtf8("确定"));
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_FALSE(about->isVisible());
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(LogPane, BurstOfEntriesIsShownTogetherAndInOrder) {
  LogPane pane;
  pane.show();
  for (int i = 0; i < 50; ++i) pane.AppendEntry(QString("e%1\r\n").arg(i));
  EXPECT_TRUE(pane.toPlainText().isEmpty());  // not yet: one insertion per display frame
  QTest::qWait(LogPane::kFlushIntervalMs * 4);
  const QStringList lines = pane.toPlainText().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 50);
  EXPECT_EQ(lines.front(), "e0");
  EXPECT_EQ(lines.back(), "e49");
  // Device text with bare CRs still gives one line each.
  pane.AppendEntry("a\rb\r\n");
  EXPECT_TRUE(pane.AllText().endsWith("e49\na\nb\n"));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(MainWindow, OwnsAHiddenRecordDialog) {
  test::AppFixture app;
  RecordsDialog* records = app.window->Records();
  ASSERT_NE(records, nullptr);
  EXPECT_EQ(records->parent(), app.window.get());
  EXPECT_FALSE(records->isVisible());
  EXPECT_EQ(records->windowTitle(), QString::fromUtf8("SQL数据库:"));
}

}  // namespace
}  // namespace velmora
