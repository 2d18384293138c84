#pragma once

#include <QString>

namespace velmora {

// Where log entries go: the main window's Log pane. User-interface thread only.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLog(const QString& text) = 0;
};

}  // namespace velmora
