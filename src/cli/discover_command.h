#pragma once
// discover: which devices answer on a network, found by one broadcast.

#include <vector>

#include "cli/command.h"
#include "discovery/device_search.h"

namespace velmora::cli {

class DiscoverCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("discover"); }
  QString Synopsis() const override { return QStringLiteral("discover [--wait MS]"); }
  QString Description() const override;
  bool IsSearch() const override { return true; }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }

  // One line per device, sorted by address; with --json one object per device.
  static void Print(Output& out, const std::vector<FoundDevice>& devices);
  // The devices named on one line each, for messages that list them.
  static QString List(const std::vector<FoundDevice>& devices);
};

}  // namespace velmora::cli
