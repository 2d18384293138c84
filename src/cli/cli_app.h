#pragma once

#include <QStringList>

namespace velmora::cli {

// The whole command line; `args` as QCoreApplication::arguments() gives them. Returns
// the exit status.
int RunCli(const QStringList& args);

}  // namespace velmora::cli
