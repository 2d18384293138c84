#include "widgets/log_pane.h"

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
  // An engineer typing at the very end would otherwise see the caret pushed behind each
  // new entry, and the rest of the note land after it.
  const int anchor = textCursor().anchor();
  const int position = textCursor().position();
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(pending_);
  pending_.clear();
  if (hasFocus() && (textCursor().position() != position || textCursor().anchor() != anchor)) {
    QTextCursor kept(document());
    kept.setPosition(anchor);
    kept.setPosition(position, QTextCursor::KeepAnchor);
    setTextCursor(kept);
  }
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
