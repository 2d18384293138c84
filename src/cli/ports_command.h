#pragma once
// ports: the serial ports this computer has, without opening any.

#include "cli/command.h"

namespace velmora::cli {

class PortsCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("ports"); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QStringLiteral("List the serial ports (no LINK needed; opens none of them)."); }
  bool NeedsLink() const override { return false; }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  int RunLocal(Output& out) override;
};

}  // namespace velmora::cli
