#pragma once
// The device register's options, which every command takes:
//   --register URL    sqlite:PATH or postgresql://USER@HOST[:PORT]/DB (else VELMORA_REGISTER,
//                     else the file the window uses)
//   --no-register     record nothing
// and the filters of the records command: --since TIME, --address A.

#include <QCommandLineParser>
#include <QDateTime>
#include <QString>

namespace velmora::cli {

struct RegisterOptions {
  QString url;      // empty with --no-register
  QDateTime since;  // records: invalid for no limit
  QString address;  // records: empty for every device
};

// Adds the options to `parser` before it parses.
void AddRegisterOptions(QCommandLineParser& parser);
// Reads them once `parser` has parsed the command line for `command`. False, with
// `error` set, for a URL of neither form, both --register and --no-register, or a filter
// given to another command than records.
bool ReadRegisterOptions(const QCommandLineParser& parser, const QString& command, RegisterOptions* options,
                         QString* error);

// "2024-05-01", "2024-05-01 14:30", "2024-05-01T14:30:00" (local time unless it ends in
// Z or an offset), or a span back from `now`: "90s", "30m", "12h", "7d". Invalid when
// it is none of these.
QDateTime ParseSince(const QString& text, const QDateTime& now);

}  // namespace velmora::cli
