#pragma once
// --report FILE: one row per unit, appended and flushed as each unit ends, so the file is
// complete up to the moment a run stops, however it stops. CSV or JSON lines, by the
// file's extension.

#include <QDateTime>
#include <QFile>
#include <QString>

#include "cli/output.h"

namespace velmora::cli {

struct ReportRow {
  QDateTime started;   // when the unit's work began
  QString command;
  QString link;        // as the unit was named: a serial path, udp:ADDRESS
  QString address;     // the device's network address and port; empty over serial
  UnitFacts facts;
  int status = 0;
  QString error;       // empty when it succeeded
  double seconds = 0;
};

class ReportWriter {
 public:
  // ".csv" or ".jsonl" (".json" is taken as JSON lines too); anything else is refused.
  static bool KnownFormat(const QString& path);

  // Opens for appending, creating the file; a new or empty CSV file gets its header row.
  bool Open(const QString& path, QString* error);
  // False when the row could not be written whole and flushed.
  bool Write(const ReportRow& row, QString* error);
  QString Path() const { return file_.fileName(); }

 private:
  QFile file_;
  bool csv_ = true;
};

}  // namespace velmora::cli
