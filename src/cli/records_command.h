#pragma once
// records: the device register, newest first, optionally from a time on or for one device.

#include "cli/command.h"

namespace velmora::cli {

class RecordsCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("records"); }
  QString Synopsis() const override { return QStringLiteral("records [--since T] [--address A]"); }
  QString Description() const override { return QStringLiteral("Print the device register, newest first (no LINK needed)."); }
  bool NeedsLink() const override { return false; }
  int Prepare(const CommandOptions& o, QString* error) override;
  int RunLocal(Output& out) override;

 private:
  RegisterOptions registry_;
};

}  // namespace velmora::cli
