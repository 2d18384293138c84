#pragma once

#include <QPlainTextEdit>
#include <QTimer>

namespace velmora {

// The Log pane: entries always go to the very end, whatever the engineer selected or
// typed, and the view follows them. Never trimmed. Entries that arrive in a burst are
// inserted together, at most once per display frame, so a long or busy log stays fast.
class LogPane : public QPlainTextEdit {
  Q_OBJECT
 public:
  static constexpr int kFlushIntervalMs = 15;

  explicit LogPane(QWidget* parent = nullptr);

  void AppendEntry(const QString& text);
  // Puts entries still waiting into the document now.
  void Flush();
  // Empties the pane, including entries not yet shown.
  void ClearAll();
  // Everything logged and typed so far, waiting entries included.
  QString AllText();

 private:
  QString pending_;
  QTimer flush_timer_;
};

}  // namespace velmora
