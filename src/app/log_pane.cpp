#include "app/log_pane.h"

#include <QScrollBar>
#include <QTextCursor>

namespace velmora {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Entries are not undoable, and a long session must not keep an undo history.
  setUndoRedoEnabled(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
  flush_timer_.setSingleShot(true);
  flush_timer_.setInterval(kFlushIntervalMs);
  connect(&flush_timer_, &QTimer::timeout, this, &LogPane::Flush);
}

void LogPane::AppendEntry(const QString& text) {
  const qsizetype start = pending_.size();
  pending_ += text;
  // The pane keeps one line end; device text may carry CR LF or a bare CR.
  QStringView added = QStringView(pending_).mid(start);
  if (added.contains(QLatin1Char('\r'))) {
    QString t = added.toString();
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    pending_.truncate(start);
    pending_ += t;
  }
  if (!flush_timer_.isActive()) flush_timer_.start();
}

void LogPane::Flush() {
  flush_timer_.stop();
  if (pending_.isEmpty()) return;
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(pending_);
  pending_.clear();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogPane::ClearAll() {
  flush_timer_.stop();
  pending_.clear();
  clear();
}

QString LogPane::AllText() {
  Flush();
  return toPlainText();
}

}  // namespace velmora
