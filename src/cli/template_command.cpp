#include "cli/template_command.h"

#include "cli/exit_status.h"
#include "profile/profile.h"
#include "profile/profile_writer.h"

namespace velmora::cli {

int TemplateCommand::RunLocal(Output& out) {
  out.Document(ProfileJson(TemplateProfile()));
  return kExitDone;
}

}  // namespace velmora::cli
