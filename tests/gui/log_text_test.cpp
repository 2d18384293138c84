#include "widgets/log_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace velmora {
namespace {

// The text as the store keeps it: one kind of line end.
QString Shown(QString s) {
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// Staged text stays out of sight until committed, then lands behind whatever was typed
// meanwhile; line ends at every place in the scanner's stride break lines, the control
// characters below CR do not; and a line staged in thousands of pieces, its replaced copies
// packed away several times while it waits, still comes out whole.
TEST(LogText, StagedTextJoinsInOrderThroughPacking) {
  LogText t;
  t.Append(u"start");
  t.Stage(u" more");
  QString shown = QStringLiteral("start more");
  for (int at = 0; at < 20; ++at) {
    const QString piece = QString(at, QLatin1Char('x')) +
                          QLatin1String(at % 3 == 0 ? "\r\n" : at % 3 == 1 ? "\r" : "\n") +
                          QStringLiteral("\t\v\f|%1|").arg(at);
    t.Stage(piece);
    shown += Shown(piece);
  }
  QString long_line;
  for (int i = 0; i < 3000; ++i) {
    const QString piece = QStringLiteral("%1-串口;").arg(i, 4, 10, QLatin1Char('0'));
    t.Stage(piece);
    long_line += piece;
  }
  shown += long_line;
  EXPECT_EQ(t.Text(), QStringLiteral("start"));
  EXPECT_EQ(t.Size(), 5);
  EXPECT_FALSE(t.Find(QStringLiteral("2999"), {0, 0}, false));

  const LogPos typed = t.Replace({0, 5}, {0, 5}, u" typed");
  EXPECT_EQ(typed, (LogPos{0, 11}));
  shown.insert(5, QStringLiteral(" typed"));
  t.Commit();
  EXPECT_FALSE(t.HasStaged());
  EXPECT_EQ(t.Text(), shown);
  EXPECT_EQ(t.Size(), shown.size());
  EXPECT_EQ(t.LineCount(), shown.count(u'\n') + 1);
  EXPECT_EQ(t.Line(t.LineCount() - 1), QStringLiteral("\t\v\f|19|") + long_line);
  EXPECT_EQ(t.LongestLineIndex(), t.LineCount() - 1);
  // Every copy of the long line as it grew would be tens of megabytes.
  EXPECT_LT(t.Footprint(), std::size_t{16} << 20);
}

// Find over a text of several blocks agrees with a plain search of the whole text, forwards
// and backwards from many places, wrapping round: matches at a line's very end, in any
// letter case, between Chinese characters, and signs whose bytes differ from letters only
// in the case bit never taken for them.
TEST(LogText, FindOverManyBlocksAgreesWithAPlainSearch) {
  LogText t;
  QString all;
  for (int i = 0; i < 7000; ++i) {
    QString line = QStringLiteral("[%1] ").arg(i) + QString(600 + i % 37, QLatin1Char("0123456789ABCDEF "[i % 17]));
    if (i % 1500 == 700) line += QStringLiteral("Reply TIMEOUT");
    if (i % 2100 == 3) line.insert(i % 29, QString::fromUtf8("超时,重发"));
    if (i == 6000) line += QStringLiteral("@A`a[{");
    line += u'\n';
    t.Append(line);
    all += line;
  }
  ASSERT_EQ(t.Text(), all);
  ASSERT_GT(t.Footprint(), std::size_t{4} << 20);  // more than two blocks

  const QString needles[] = {QStringLiteral("reply timeout"), QStringLiteral("TimeOut"), QString::fromUtf8("超时"),
                             QString::fromUtf8("时,重"), QStringLiteral("`a[{"), QStringLiteral("@a"),
                             QStringLiteral("[{@"), QStringLiteral("]  "), QStringLiteral("absent text")};
  for (const QString& needle : needles) {
    for (qsizetype from : {qsizetype{0}, all.size() / 3, all.indexOf(QStringLiteral("TIMEOUT")) + 1, all.size()}) {
      qsizetype next = all.indexOf(needle, from, Qt::CaseInsensitive);
      if (next < 0) next = all.indexOf(needle, 0, Qt::CaseInsensitive);
      qsizetype previous = from > 0 ? all.lastIndexOf(needle, from - 1, Qt::CaseInsensitive) : -1;
      if (previous < 0) previous = all.lastIndexOf(needle, -1, Qt::CaseInsensitive);
      const std::optional<LogPos> forward = t.Find(needle, t.PosAt(from), false);
      const std::optional<LogPos> backward = t.Find(needle, t.PosAt(from), true);
      EXPECT_EQ(forward ? t.Offset(*forward) : -1, next) << needle.toStdString() << " from " << from;
      EXPECT_EQ(backward ? t.Offset(*backward) : -1, previous) << needle.toStdString() << " from " << from;
    }
  }
}

}  // namespace
}  // namespace velmora
