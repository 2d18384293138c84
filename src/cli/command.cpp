#include "cli/command.h"

#include "cli/discover_command.h"
#include "cli/exit_status.h"
#include "cli/ports_command.h"
#include "cli/query_commands.h"
#include "cli/read_command.h"
#include "cli/records_command.h"
#include "cli/template_command.h"
#include "cli/upgrade_command.h"
#include "cli/write_command.h"

namespace velmora::cli {

int NeedArgs(const CommandOptions& o, int n, const QString& synopsis, QString* error) {
  if (o.args.size() == n) return kExitDone;
  *error = QStringLiteral("usage: velmora-cli LINK... %1").arg(synopsis);
  return kExitBadInput;
}

std::vector<std::unique_ptr<Command>> AllCommands() {
  std::vector<std::unique_ptr<Command>> c;
  c.push_back(std::make_unique<PortsCommand>());
  c.push_back(std::make_unique<DiscoverCommand>());
  c.push_back(std::make_unique<QueryCommand<VersionJob>>("version", "Print the device's version text."));
  c.push_back(std::make_unique<QueryCommand<CsqJob>>("csq", "Print the device's signal quality (CSQ)."));
  c.push_back(std::make_unique<QueryCommand<ClockJob>>("clock", "Set the device's clock to this computer's local time."));
  c.push_back(std::make_unique<QueryCommand<ResetJob>>("reset", "Restart the device."));
  c.push_back(std::make_unique<ReadCommand>(false));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Config));
  c.push_back(std::make_unique<ReadCommand>(true));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Mqtt));
  c.push_back(std::make_unique<WriteCommand>(WriteCommand::Kind::Apply));
  c.push_back(std::make_unique<UpgradeCommand>());
  c.push_back(std::make_unique<TemplateCommand>());
  c.push_back(std::make_unique<RecordsCommand>());
  return c;
}

}  // namespace velmora::cli
