#pragma once
// template: a complete profile of the form's defaults, to edit and write.

#include "cli/command.h"

namespace velmora::cli {

class TemplateCommand : public Command {
 public:
  QString Name() const override { return QStringLiteral("template"); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QStringLiteral("Print a complete profile holding the form's defaults."); }
  bool NeedsLink() const override { return false; }
  bool DocumentOnStdout() const override { return true; }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  int RunLocal(Output& out) override;
};

}  // namespace velmora::cli
