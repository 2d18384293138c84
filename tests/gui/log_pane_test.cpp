#include "widgets/log_pane.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

namespace velmora {
namespace {

// The text as the pane keeps it: one kind of line end.
QString Shown(QString s) {
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// A long log through the whole path: nothing dropped or reordered, the view on the newest
// entry, select all and copy over every line, a range across entries, typing into a long
// line until its old copies are packed away, and the text read through the accessibility
// interface a screen reader uses.
TEST(LogPane, AWholeLogIsKeptSelectableCopyableAndReadable) {
  LogPane pane;
  pane.setAccessibleName(QStringLiteral("Log"));
  pane.resize(320, 240);
  pane.show();
  QString expected;
  for (int i = 0; i < 30000; ++i) {
    QString entry = QStringLiteral("[2021-03-09 14:05:59 %1] \r\n").arg(i % 1000);
    switch (i % 4) {
      case 0: entry += QString::fromUtf8("串口接收:F5 00 E3 %1 0D \r\n").arg(i, 4, 16, QLatin1Char('0')); break;
      case 1: entry += QStringLiteral("[UART_RECV]: boot\rline %1\r\n").arg(i); break;
      case 2: entry += QString::fromUtf8("UDP接收:") + QString(600, QLatin1Char('A' + i % 26)) + QStringLiteral("\r\n"); break;
      default: entry += QStringLiteral("no line end %1 ").arg(i); break;
    }
    pane.AppendEntry(entry);
    expected += Shown(entry);
  }
  EXPECT_EQ(pane.AllText(), expected);
  QApplication::processEvents();
  QScrollBar* v = pane.verticalScrollBar();
  EXPECT_GT(v->maximum(), 30000);
  EXPECT_EQ(v->value(), v->maximum());

  pane.setFocus();
  QTest::keySequence(&pane, QKeySequence::SelectAll);
  QTest::keySequence(&pane, QKeySequence::Copy);
  EXPECT_EQ(QApplication::clipboard()->text(), expected);

  const qsizetype from = expected.indexOf(QStringLiteral("line 4093"));
  const qsizetype to = expected.indexOf(QStringLiteral("no line end 29999"));
  pane.Select(from, to);
  EXPECT_EQ(pane.SelectedText(), expected.mid(from, to - from));

  // Typing at the start of a 600-character line, far more than the line itself.
  const qsizetype line = expected.indexOf(QString(600, QLatin1Char('C')));
  pane.SetCaret(line);
  QString typed;
  for (int i = 0; i < 4000; ++i) {
    const QString key(QChar(u'a' + i % 26));
    QTest::keyClick(&pane, key[0].toLatin1());
    typed += key;
  }
  expected.insert(line, typed);
  EXPECT_EQ(pane.CaretPosition(), line + typed.size());
  pane.AppendEntry(QStringLiteral("after the note\r\n"));
  expected += QStringLiteral("after the note\n");
  EXPECT_EQ(pane.AllText(), expected);
  EXPECT_EQ(pane.CaretPosition(), line + typed.size());
  // The store stays about the size of its text despite thousands of rewritten lines.
  EXPECT_LT(pane.Text().Footprint(), static_cast<std::size_t>(expected.toUtf8().size()) * 2 + (8u << 20));

  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&pane);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Log"));
  EXPECT_EQ(a->role(), QAccessible::EditableText);
  QAccessibleTextInterface* text = a->textInterface();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->characterCount(), expected.size());
  EXPECT_EQ(text->text(from, to), expected.mid(from, to - from));
  EXPECT_EQ(text->cursorPosition(), line + typed.size());
  EXPECT_EQ(a->text(QAccessible::Value), expected);

  pane.ClearAll();
  EXPECT_TRUE(pane.AllText().isEmpty());
  EXPECT_EQ(text->characterCount(), 0);
}

}  // namespace
}  // namespace velmora
