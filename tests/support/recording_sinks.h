#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

#include "log/log_sink.h"
#include "protocol/receive_pump.h"

namespace velmora::test {

class RecordingLog : public LogSink {
 public:
  void AppendLog(const QString& text) override { entries.append(text); }
  QStringList entries;
};

// Copies what it is handed, as a real handler must.
class RecordingHandler {
 public:
  struct Call {
    Link link;
    uint8_t code;
    std::vector<uint8_t> bytes;
  };
  void HandleReply(const ReplyFrame& f) { calls.push_back({f.link, f.Code(), {f.bytes.begin(), f.bytes.end()}}); }
  // Replies of `kind` on `link` (either link when none) come here.
  void Subscribe(ReceivePump& pump, ReplyKind kind, std::optional<Link> link) {
    pump.Subscribe(kind, link, [this](const ReplyFrame& f) { HandleReply(f); });
  }
  std::vector<Call> calls;
};

}  // namespace velmora::test
