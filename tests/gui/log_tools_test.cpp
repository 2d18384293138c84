#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#include "app/main_window.h"
#include "widgets/log_find_bar.h"
#include "widgets/log_pane.h"
#include "support/frames.h"
#include "support/gui_app_fixture.h"
#include "support/gui_typing.h"

namespace velmora {
namespace {

using test::AppFixture;

constexpr auto kOwnerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

QAction* LogMenuItem(const MainWindow& w, const QString& text) { return test::MenuItem(w.LogMenu(), text); }

// The whole find path by keyboard: Ctrl+F opens a bar inside the pane's rectangle, typing
// finds the first match in any letter case, Enter and F3 go forward, Shift+F3 and
// Shift+Enter back, both wrap round the log, a needle the log lacks says so and keeps the
// selection, and Escape closes the bar and gives the pane its room back.
TEST(LogTools, FindGoesBothWaysInAnyCaseAndWraps) {
  AppFixture app;
  MainWindow& w = *app.window;
  LogPane* log = w.Log();
  w.AppendLog(QString::fromUtf8("串口接收: beta one\r\n"));
  w.AppendLog(QString::fromUtf8("nothing here, Ünit 1\r\n"));
  w.AppendLog(QStringLiteral("BETA two, and Beta three\r\n"));
  const QString text = app.LogText();
  std::vector<qsizetype> at;
  for (qsizetype i = text.indexOf(u"beta", 0, Qt::CaseInsensitive); i >= 0;
       i = text.indexOf(u"beta", i + 1, Qt::CaseInsensitive))
    at.push_back(i);
  ASSERT_EQ(at.size(), 3u);
  const QRect pane = log->geometry();
  const QRect viewport = log->viewport()->geometry();

  log->setFocus();
  log->SetCaret(0);
  QTest::keyClick(log, Qt::Key_F, Qt::ControlModifier);
  LogFindBar* bar = log->FindBar();
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(bar->isVisible());
  EXPECT_TRUE(bar->Edit()->hasFocus());
  EXPECT_EQ(log->geometry(), pane);
  EXPECT_TRUE(log->rect().contains(bar->geometry()));
  EXPECT_LT(log->viewport()->geometry().height(), viewport.height());

  auto selected_at = [&](std::size_t k) {
    return log->AnchorPosition() == at[k] && log->CaretPosition() == at[k] + 4;
  };
  test::TypeText(bar->Edit(), QStringLiteral("bEtA"));
  EXPECT_TRUE(selected_at(0));
  EXPECT_EQ(log->SelectedText(), QStringLiteral("beta"));
  QTest::keyClick(bar->Edit(), Qt::Key_Return);
  EXPECT_TRUE(selected_at(1));
  EXPECT_EQ(log->SelectedText(), QStringLiteral("BETA"));
  QTest::keyClick(bar->Edit(), Qt::Key_F3);
  EXPECT_TRUE(selected_at(2));
  QTest::keyClick(bar->Edit(), Qt::Key_F3);  // round to the first
  EXPECT_TRUE(selected_at(0));
  QTest::keyClick(bar->Edit(), Qt::Key_F3, Qt::ShiftModifier);  // and back round to the last
  EXPECT_TRUE(selected_at(2));
  QTest::keyClick(bar->Edit(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_TRUE(selected_at(1));
  EXPECT_FALSE(bar->NothingFound());

  test::TypeText(bar->Edit(), QStringLiteral("zz"));
  EXPECT_TRUE(bar->NothingFound());
  EXPECT_TRUE(selected_at(1));

  QTest::keyClick(bar->Edit(), Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(log->hasFocus());
  EXPECT_EQ(log->viewport()->geometry(), viewport);
  // F3 in the pane goes on with the needle last used.
  bar->Edit()->setText(QStringLiteral("beta"));
  QTest::keyClick(log, Qt::Key_F3);
  EXPECT_TRUE(selected_at(2));
  // A needle beyond ASCII, found going round from the last line.
  QTest::keyClick(log, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(bar->Edit()->hasFocus());
  test::TypeText(bar->Edit(), QString::fromUtf8("接收"));
  EXPECT_EQ(log->SelectedText(), QString::fromUtf8("接收"));
  EXPECT_EQ(log->AnchorPosition(), text.indexOf(QString::fromUtf8("接收")));
  // A letter beyond ASCII still matches in either case.
  QTest::keyClick(log, Qt::Key_F, Qt::ControlModifier);
  test::TypeText(bar->Edit(), QString::fromUtf8("üNIT"));
  EXPECT_EQ(log->SelectedText(), QString::fromUtf8("Ünit"));
}

// Save As through the menu and the file dialog: an existing file is replaced, after the
// question, by exactly the pane's text as UTF-8, with no temporary file left beside it; a
// folder that does not exist is reported and nothing is written.
TEST(LogTools, SaveAsWritesThePaneTextAsUtf8ReplacingTheOldFileWhole) {
  AppFixture app;
  MainWindow& w = *app.window;
  w.AppendLog(QString::fromUtf8("串口接收:F5 00 E3 0D \r\n"));
  w.AppendLog(QString::fromUtf8("[FOTA]: 固件升级完成.\r\n"));
  w.Log()->SetCaret(w.Log()->AllText().size());
  w.Log()->InsertText(QString::fromUtf8("备注 typed"));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("session.txt"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
  }
  app.modal.file_answers.push_back(path);
  QAction* save = LogMenuItem(w, QString::fromUtf8("另存为..."));
  ASSERT_NE(save, nullptr);
  save->trigger();
  ASSERT_EQ(app.modal.messages.size(), 1);
  EXPECT_TRUE(app.modal.messages[0].contains(QString::fromUtf8("已存在")));
  EXPECT_EQ(app.modal.save_suffixes, QStringList{QStringLiteral("txt")});
  EXPECT_EQ(test::ReadFile(path), app.LogText().toUtf8());
  EXPECT_TRUE(app.LogText().endsWith(QString::fromUtf8("备注 typed")));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("session.txt")});
  // The Log shows credentials: the file is its owner's alone, though the old one was not.
  EXPECT_EQ(std::filesystem::status(path.toStdString()).permissions(), kOwnerOnly);

  // Cancelled at the question: the file stays as it is.
  w.AppendLog(QStringLiteral("later\r\n"));
  app.modal.answer = MessageAnswer::Cancel;
  app.modal.file_answers.push_back(path);
  save->trigger();
  EXPECT_NE(test::ReadFile(path), app.LogText().toUtf8());

  const QString nowhere = dir.filePath(QStringLiteral("missing/log.txt"));
  app.modal.answer = MessageAnswer::Ok;
  app.modal.file_answers.push_back(nowhere);
  save->trigger();
  ASSERT_EQ(app.modal.messages.size(), 3);
  EXPECT_TRUE(app.modal.messages[2].startsWith(QString::fromUtf8("日志未保存")));
  EXPECT_FALSE(QFile::exists(nowhere));
}

// The session log option: each entry is in this run's file the moment it is logged, with
// no event loop in between; off, nothing more is written; on again, the same file goes on.
TEST(LogTools, SessionLogHoldsEachEntryAsItIsLogged) {
  QStandardPaths::setTestModeEnabled(true);
  AppFixture app;
  MainWindow& w = *app.window;
  w.AppendLog(QStringLiteral("before\r\n"));
  QAction* option = LogMenuItem(w, QString::fromUtf8("保存会话日志"));
  ASSERT_NE(option, nullptr);
  ASSERT_TRUE(option->isCheckable());
  EXPECT_FALSE(option->isChecked());
  option->trigger();
  EXPECT_TRUE(option->isChecked());
  ASSERT_TRUE(w.SessionLogOn());
  const QString path = w.SessionLogPath();
  EXPECT_TRUE(path.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)));
  EXPECT_EQ(std::filesystem::status(path.toStdString()).permissions(), kOwnerOnly);
  const QString stamp = LogStamp(test::FixedTime());

  w.AppendLog(QString::fromUtf8("串口接收:F5 00 E3 0D \r\n"));
  EXPECT_EQ(test::ReadFile(path), (stamp + QString::fromUtf8("串口接收:F5 00 E3 0D \r\n")).toUtf8());
  w.AppendLog(QStringLiteral("second\r\n"));
  const QByteArray two = (stamp + QString::fromUtf8("串口接收:F5 00 E3 0D \r\n") + stamp + "second\r\n").toUtf8();
  EXPECT_EQ(test::ReadFile(path), two);

  option->trigger();
  EXPECT_FALSE(w.SessionLogOn());
  w.AppendLog(QStringLiteral("not kept\r\n"));
  EXPECT_EQ(test::ReadFile(path), two);
  option->trigger();
  EXPECT_EQ(w.SessionLogPath(), path);
  w.AppendLog(QStringLiteral("third\r\n"));
  EXPECT_EQ(test::ReadFile(path), two + (stamp + "third\r\n").toUtf8());
  QFile::remove(path);
}

}  // namespace
}  // namespace velmora
