// The window program answers --help, --version and a language it lacks without a
// display, as a script or a package check runs it.

#include <gtest/gtest.h>

#include <QProcessEnvironment>

#include "support/cli_process.h"
#include "support/gui_app_fixture.h"

namespace velmora {
namespace {

using test::CliProcess;
using test::CliRun;

TEST(CommandLine, HelpVersionAndAnUnknownLanguageNeedNoDisplay) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QLatin1String(name));
  for (const bool xcb : {false, true}) {
    // Unset, the platform is xcb; named, it has no display to connect to either.
    if (xcb) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const CliRun help = CliProcess::Run(test::AppProgram(), {"--help"}, env);
    EXPECT_EQ(help.status, 0) << help;
    EXPECT_TRUE(help.out.startsWith("Usage: ")) << help;
    EXPECT_TRUE(help.out.contains("--lang <code>")) << help;

    const CliRun version = CliProcess::Run(test::AppProgram(), {"--version"}, env);
    EXPECT_EQ(version.status, 0) << version;
    EXPECT_EQ(version.out, "velmora 1.2\n") << version;

    const CliRun lang = CliProcess::Run(test::AppProgram(), {"--lang", "xx"}, env);
    EXPECT_EQ(lang.status, 2) << lang;
    EXPECT_TRUE(lang.out.isEmpty()) << lang;
    EXPECT_TRUE(lang.err.contains("velmora: no such language: xx (zh, en)")) << lang;
  }
}

}  // namespace
}  // namespace velmora
