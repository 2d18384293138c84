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

// What a job learnt about its unit and did to it: the report's and the register's row.
struct UnitFacts {
  QString version;        // as the device answered before anything was changed
  QString version_after;  // read back after an upgrade
  std::optional<int> csq;
  QString mac;            // "02:1A:2B:3C:4D:5E", from a configuration written or read
  QString local_ip;
  QString product_key;    // never the device secret
  QString device_name;
  // Done on the device, in order: config, mqtt, firmware, verify. Only for the commands
  // that change a device (write-config, write-mqtt, apply, upgrade).
  QStringList steps;
  bool changes_device = false;
};

struct DeviceResult {
  int status = 0;        // exit status for this device
  QString text;          // one line: what happened
  QStringList details;   // further lines (differences found by --verify)
  QJsonObject data;      // fields for the JSON line
  UnitFacts facts;
};

class Output {
 public:
  // `document_on_stdout`: the command prints a document (a profile), so the result
  // lines go to standard error and standard output holds the document only.
  // `terminal`: standard error is a terminal, so progress is a bar redrawn in place.
  Output(bool json, bool terminal, bool document_on_stdout = false);

  bool Json() const { return json_; }
  void SetDocumentOnStdout(bool on) { document_on_stdout_ = on; }

  void Result(const QString& device, const QString& command, const DeviceResult& r, qint64 elapsed_ms);
  void Progress(const QString& device, uint64_t sent, uint64_t total);
  void Summary(const QString& command, const std::vector<std::pair<QString, std::pair<DeviceResult, qint64>>>& rows);
  void Document(const QByteArray& bytes);
  // A failure that is no device's result (a usage or file error, a failed search):
  // "velmora-cli: TEXT" on standard error, or {"error": TEXT, "exit": STATUS} with --json.
  void Error(const QString& text, int status);
  // A line about the run that is no result (a register that could not be written...):
  // on standard error, or {"event": "notice", "message": TEXT} with --json.
  void Notice(const QString& text);
  void JsonLine(const QJsonObject& object);

  // Standard error, where progress goes, is a terminal.
  static bool StderrIsTerminal();

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
