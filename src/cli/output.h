#pragma once
// What the command line prints: one line per device result (text or JSON), upload
// progress (a bar on a terminal, plain lines otherwise, JSON lines with --json), and the
// summary table of a run on several devices.

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace velmora::cli {

// What a device told about itself beyond `data`, for the device register.
struct DeviceFacts {
  std::optional<QString> mac;
  std::optional<QString> local_ip;
  std::optional<QString> product_key;
  std::optional<QString> device_name;
};

struct DeviceResult {
  int status = 0;        // exit status for this device
  QString text;          // one line: what happened
  QStringList details;   // further lines (differences found by --verify)
  QJsonObject data;      // fields for the JSON line
  DeviceFacts facts;
};

class Output {
 public:
  // `document_on_stdout`: the command prints a document (a profile), so the result
  // lines go to standard error and standard output holds the document only.
  Output(bool json, bool terminal, bool document_on_stdout = false);

  bool Json() const { return json_; }
  void SetDocumentOnStdout(bool on) { document_on_stdout_ = on; }

  void Result(const QString& device, const QString& command, const DeviceResult& r, qint64 elapsed_ms);
  void Progress(const QString& device, uint64_t sent, uint64_t total);
  void Summary(const QString& command, const std::vector<std::pair<QString, std::pair<DeviceResult, qint64>>>& rows);
  void Document(const QByteArray& bytes);
  void Error(const QString& text);
  void JsonLine(const QJsonObject& object);

  // Standard output is a terminal.
  static bool StdoutIsTerminal();

 private:
  void ClearBar();
  void DrawBar(bool force);
  FILE* ResultStream() const { return document_on_stdout_ ? stderr : stdout; }

  bool json_;
  bool terminal_;
  bool document_on_stdout_;
  struct Upload {
    uint64_t sent = 0;
    uint64_t total = 0;
    int step = -1;  // last tenth printed in plain mode
  };
  std::map<QString, Upload> uploads_;
  QElapsedTimer since_start_;
  QElapsedTimer since_draw_;
  bool bar_shown_ = false;
};

QString StatusWord(int status);

}  // namespace velmora::cli
