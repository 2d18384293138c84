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
}

void LogPane::AppendEntry(const QString& text) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(t);
  // One scroll request per burst of entries, handled once the queue is processed.
  if (!scroll_pending_) {
    scroll_pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          scroll_pending_ = false;
          verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        },
        Qt::QueuedConnection);
  }
}

}  // namespace velmora
