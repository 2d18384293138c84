#include "cli/cli_app.h"

#include <QCommandLineParser>

#include <cstdio>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/link_options.h"
#include "cli/register_options.h"
#include "cli/runner.h"

namespace velmora::cli {

namespace {

// What the window waits for an answer: the upgrade dialog's silent period, 300 ticks of
// 10 ms. Nothing else in the window waits at all.
constexpr int kDefaultTimeoutMs = 3000;

QString HelpText(const QCommandLineParser& parser, const std::vector<std::unique_ptr<Command>>& commands) {
  QString text = QStringLiteral(
      "Usage: velmora-cli LINK... COMMAND [ARGS] [options]\n"
      "Configures Velmora data terminals from the command line, on the same frames as the window.\n\n"
      "LINK (several run the command on every device at once):\n"
      "  --serial PATH [--baud N] [--parity none|odd|even|mark|space]   (default 115200, none)\n"
      "  --udp ADDRESS [--device-port N]                                (default device port 21)\n"
      "  --local-port N   the one local UDP port every UDP device answers to (default 20)\n"
      "  With several UDP devices each ADDRESS must be a unicast address: replies are told\n"
      "  apart by their sender. A single --udp broadcast address hears any sender.\n\n"
      "COMMAND:\n");
  for (const auto& c : commands) {
    text += QStringLiteral("  %1%2\n").arg(c->Synopsis().leftJustified(34), c->Description());
  }
  text += QLatin1Char('\n');
  text += parser.helpText().section(QLatin1Char('\n'), 2);  // the options, without Qt's usage line
  text += QStringLiteral(
      "\nExit status:\n"
      "  0    done (on every device)\n"
      "  1    a device refused or did not answer (or --verify found a difference)\n"
      "  2    bad usage, or a bad profile or firmware file (nothing was sent)\n"
      "  3    a link could not be opened\n"
      "  4    done on every device, but the device register could not take the rows\n"
      "  130  interrupted (Ctrl-C)\n"
      "  With several devices: 0 only if every device succeeded, else the highest status.\n");
  return text;
}

void Print(FILE* f, const QString& text) {
  const QByteArray b = text.toUtf8();
  std::fwrite(b.constData(), 1, static_cast<std::size_t>(b.size()), f);
  std::fflush(f);
}

}  // namespace

int RunCli(const QStringList& args) {
  auto commands = AllCommands();

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
  const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("A device on serial port PATH."), QStringLiteral("PATH"));
  const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Baud rate of the --serial before it."), QStringLiteral("N"));
  const QCommandLineOption parity(QStringLiteral("parity"), QStringLiteral("Parity of the --serial before it."), QStringLiteral("P"));
  const QCommandLineOption udp(QStringLiteral("udp"), QStringLiteral("A device at UDP address ADDRESS."), QStringLiteral("ADDRESS"));
  const QCommandLineOption local_port(QStringLiteral("local-port"), QStringLiteral("Local UDP port (default 20)."), QStringLiteral("N"));
  const QCommandLineOption device_port(QStringLiteral("device-port"), QStringLiteral("UDP port of the --udp before it (default 21)."), QStringLiteral("N"));
  const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per result line, for scripts."));
  const QCommandLineOption timeout(QStringLiteral("timeout"),
                                   QStringLiteral("How long to wait for each answer (default 3000, the time the window's "
                                                  "upgrade waits for a frame's answer). Firmware frames keep the "
                                                  "upgrade's own 3 s, one resend, 3 s."),
                                   QStringLiteral("MS"));
  const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                  QStringLiteral("read-config, read-mqtt: save the profile to PROFILE."), QStringLiteral("PROFILE"));
  const QCommandLineOption verify(QStringLiteral("verify"), QStringLiteral("write-config, apply: read back and compare every field."));
  for (const auto* o : {&help, &serial, &baud, &parity, &udp, &local_port, &device_port, &json, &timeout, &output, &verify}) {
    parser.addOption(*o);
  }
  AddRegisterOptions(parser);
  parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("What to do; see above."));

  auto usage_error = [](const QString& text) {
    Print(stderr, QStringLiteral("velmora-cli: %1\nTry 'velmora-cli --help'.\n").arg(text));
    return kExitBadInput;
  };

  if (!parser.parse(args)) return usage_error(parser.errorText());
  if (parser.isSet(help)) {
    Print(stdout, HelpText(parser, commands));
    return kExitDone;
  }
  QStringList positional = parser.positionalArguments();
  if (positional.isEmpty()) return usage_error(QStringLiteral("no command given"));
  const QString name = positional.takeFirst();
  Command* command = nullptr;
  for (const auto& c : commands) {
    if (c->Name() == name) command = c.get();
  }
  if (!command) return usage_error(QStringLiteral("unknown command \"%1\"").arg(name));

  int timeout_ms = kDefaultTimeoutMs;
  if (parser.isSet(timeout)) {
    bool ok = false;
    timeout_ms = parser.value(timeout).toInt(&ok);
    if (!ok || timeout_ms < 1 || timeout_ms > 600'000) {
      return usage_error(QStringLiteral("--timeout takes milliseconds from 1 to 600000, not \"%1\"").arg(parser.value(timeout)));
    }
  }
  if (parser.values(output).size() > 1) return usage_error(QStringLiteral("-o is given twice"));
  if (parser.isSet(output) && !command->TakesOutput()) {
    return usage_error(QStringLiteral("-o goes with read-config and read-mqtt, not with %1").arg(name));
  }
  if (parser.isSet(verify) && !command->TakesVerify()) {
    return usage_error(QStringLiteral("--verify goes with write-config and apply, not with %1").arg(name));
  }

  const LinkOptions links = ScanLinks(parser);
  if (!links.error.isEmpty()) return usage_error(links.error);
  if (command->NeedsLink() && links.links.empty()) {
    return usage_error(QStringLiteral("%1 needs a device: --serial PATH or --udp ADDRESS").arg(name));
  }
  if (command->OneDeviceOnly() && links.links.size() > 1) {
    return usage_error(QStringLiteral("%1 reads one device; give one LINK").arg(name));
  }
  if (!command->NeedsLink() && !links.links.empty()) {
    return usage_error(QStringLiteral("%1 needs no LINK").arg(name));
  }

  CommandOptions options;
  options.args = positional;
  options.output = parser.value(output);
  options.verify = parser.isSet(verify);
  options.json = parser.isSet(json);
  QString error;
  if (!ReadRegisterOptions(parser, name, &options.registry, &error)) return usage_error(error);
  if (const int status = command->Prepare(options, &error); status != kExitDone) {
    Print(stderr, QStringLiteral("velmora-cli: %1\n").arg(error));
    return status;
  }

  Output out(options.json, Output::StdoutIsTerminal(), command->DocumentOnStdout());
  if (!command->NeedsLink()) return command->RunLocal(out);
  return RunOnDevices(*command, links.links, links.local_port, timeout_ms, out, options.registry);
}

}  // namespace velmora::cli
