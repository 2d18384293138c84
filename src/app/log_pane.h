#pragma once

#include <QPlainTextEdit>

namespace velmora {

// The Log pane: entries always go to the very end, whatever the engineer selected or
// typed, and the view follows them. Never trimmed.
class LogPane : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit LogPane(QWidget* parent = nullptr);

  void AppendEntry(const QString& text);

 private:
  bool scroll_pending_ = false;
};

}  // namespace velmora
