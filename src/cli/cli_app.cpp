#include "cli/cli_app.h"

#include <QCommandLineParser>

#include <cstdio>

#include "cli/command.h"
#include "cli/device_recorder.h"
#include "cli/discover_command.h"
#include "cli/exit_status.h"
#include "cli/link_options.h"
#include "cli/register_options.h"
#include "cli/report.h"
#include "cli/runner.h"
#include "cli/units_sheet.h"

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
      "  A broadcast or multicast --udp ADDRESS is searched first (see discover): the command\n"
      "  then runs on the one device that answered, by its own address; when several answer\n"
      "  nothing is written unless --all runs it on each. With several UDP LINKs each must be\n"
      "  a unicast address: replies are told apart by their sender.\n"
      "  --units FILE.csv  the devices and each one's own profile values, a row each (header:\n"
      "  link, then keys such as config.local_ip, config.mac (auto: a MAC of its own),\n"
      "  mqtt.device_name); link is serial:PATH[@BAUD[,PARITY]] or udp:ADDRESS[:PORT].\n\n"
      "COMMAND:\n");
  for (const auto& c : commands) {
    text += QStringLiteral("  %1%2\n").arg(c->Synopsis().leftJustified(34), c->Description());
  }
  text += QLatin1Char('\n');
  text += parser.helpText().section(QLatin1Char('\n'), 2);  // the options, without Qt's usage line
  text += QStringLiteral(
      "\nExit status:\n"
      "  0    done (on every device)\n"
      "  1    a device refused, did not answer, or failed its checks (--verify, --expect-version);\n"
      "       a file that failed after the device was contacted; no device answered a search;\n"
      "       the --deadline was reached\n"
      "  2    bad usage, a bad profile, units sheet or firmware file, the same identity for several\n"
      "       devices, or several devices answering a broadcast without --all: nothing was written\n"
      "       to any device (a search may have asked)\n"
      "  3    a link could not be opened (or the serial line went away)\n"
      "  4    done on every device, but the device register could not take every row\n"
      "  130  interrupted (Ctrl-C)\n"
      "  With several devices: 0 only if every device succeeded, else the highest status.\n"
      "  With --json every outcome is a JSON line on standard output, errors as {\"error\", \"exit\"}.\n");
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
  auto option = [&parser](const QStringList& names, const char* help, const char* value = nullptr) {
    QCommandLineOption o(names, QString::fromUtf8(help), value ? QString::fromLatin1(value) : QString());
    parser.addOption(o);
    return o;
  };
  const auto help = option({QStringLiteral("h"), QStringLiteral("help")}, "Show this text.");
  option({QStringLiteral("serial")}, "A device on serial port PATH.", "PATH");
  option({QStringLiteral("baud")}, "Baud rate of the --serial before it.", "N");
  option({QStringLiteral("parity")}, "Parity of the --serial before it.", "P");
  option({QStringLiteral("udp")}, "A device at UDP address ADDRESS.", "ADDRESS");
  option({QStringLiteral("local-port")}, "Local UDP port (default 20).", "N");
  option({QStringLiteral("device-port")}, "UDP port of the --udp before it (default 21).", "N");
  const auto json = option({QStringLiteral("json")}, "Every outcome as a JSON line on standard output, for scripts.");
  const auto timeout = option({QStringLiteral("timeout")},
                              "How long to wait for each answer (default 3000, the time the window's upgrade waits "
                              "for a frame's answer). Firmware frames keep the upgrade's own 3 s, one resend, 3 s.",
                              "MS");
  const auto output = option({QStringLiteral("o"), QStringLiteral("output")}, "read-config, read-mqtt: save the profile to PROFILE.", "PROFILE");
  const auto verify = option({QStringLiteral("verify")}, "write-config, apply: read back and compare every field.");
  const auto wait = option({QStringLiteral("wait")}, "How long a search listens for answers (default 1000).", "MS");
  const auto all = option({QStringLiteral("all")}, "Run on every device that answers a broadcast LINK, each by its own address.");
  const auto units_file = option({QStringLiteral("units")}, "write-config, write-mqtt, apply: the devices and each one's own values.", "FILE.csv");
  const auto allow_same = option({QStringLiteral("allow-same")},
                                 "Let several devices get the same FIELD (config.local_ip, config.mac, mqtt.device_name, "
                                 "mqtt.device_secret); may be given again.",
                                 "FIELD");
  const auto report = option({QStringLiteral("report")},
                             "Append a row per unit (version, CSQ, MAC, IP, steps, result, time) to FILE, .csv or "
                             ".jsonl; the version and CSQ are read first.",
                             "FILE");
  const auto expect_version = option({QStringLiteral("expect-version")},
                                     "upgrade, apply: once the image is taken, wait for the device to answer this version.",
                                     "TEXT");
  const auto restart_wait = option({QStringLiteral("restart-wait")},
                                   "How long the device may take to answer again after an upgrade (default 30).", "SECONDS");
  const auto deadline = option({QStringLiteral("deadline")}, "End the whole command after SECONDS, saying where each device stood.",
                               "SECONDS");
  AddRegisterOptions(parser);
  parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("What to do; see above."));

  const bool parsed = parser.parse(args);
  const bool as_json = parsed ? parser.isSet(json) : (args.contains(QStringLiteral("--json")) || args.contains(QStringLiteral("-json")));
  // Every failure that is no device's result: plain text on standard error, or one JSON
  // object on standard output with --json.
  auto fail = [as_json](const QString& text, int status, bool usage) {
    if (as_json) {
      Output(true, false).Error(text, status);
    } else {
      Print(stderr, QStringLiteral("velmora-cli: %1\n%2").arg(text, usage ? QStringLiteral("Try 'velmora-cli --help'.\n") : QString()));
    }
    return status;
  };
  auto usage_error = [&fail](const QString& text) { return fail(text, kExitBadInput, true); };

  if (!parsed) return usage_error(parser.errorText());
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

  QString number_error;
  auto number = [&](const QCommandLineOption& o, int fallback, int lo, int hi, const char* unit) {
    if (!parser.isSet(o) || !number_error.isEmpty()) return fallback;
    const auto v = Number(parser.value(o), lo, hi);
    if (!v) {
      number_error = QStringLiteral("--%1 takes %2 from %3 to %4, not \"%5\"")
                         .arg(o.names().constLast(), QString::fromLatin1(unit)).arg(lo).arg(hi).arg(parser.value(o));
      return fallback;
    }
    return *v;
  };
  for (const QCommandLineOption* o : {&timeout, &output, &wait, &units_file, &report, &expect_version, &restart_wait, &deadline}) {
    if (parser.values(*o).size() > 1) return usage_error(QStringLiteral("--%1 is given twice").arg(o->names().constLast()));
  }
  RunSettings settings;
  settings.timeout_ms = number(timeout, kDefaultTimeoutMs, 1, 600'000, "milliseconds");
  const int wait_ms = number(wait, DeviceSearch::kDefaultWaitMs, 1, 600'000, "milliseconds");
  settings.deadline_ms = 1000LL * number(deadline, 0, 1, 7 * 24 * 3600, "seconds");
  const int restart_wait_s = number(restart_wait, 30, 1, 3600, "seconds");
  if (!number_error.isEmpty()) return usage_error(number_error);

  const bool changes_devices = command->WrittenProfile() != nullptr || name == QLatin1String("upgrade");
  if (parser.isSet(output) && !command->TakesOutput()) {
    return usage_error(QStringLiteral("-o goes with read-config and read-mqtt, not with %1").arg(name));
  }
  if (parser.isSet(verify) && !command->TakesVerify()) {
    return usage_error(QStringLiteral("--verify goes with write-config and apply, not with %1").arg(name));
  }
  const bool upgrades = name == QLatin1String("upgrade") || name == QLatin1String("apply");
  if (parser.isSet(expect_version) && !upgrades) return usage_error(QStringLiteral("--expect-version goes with upgrade and apply"));
  if (parser.isSet(restart_wait) && !parser.isSet(expect_version)) {
    return usage_error(QStringLiteral("--restart-wait goes with --expect-version"));
  }
  if (parser.isSet(units_file) && !command->WrittenProfile()) {
    return usage_error(QStringLiteral("--units goes with write-config, write-mqtt and apply, not with %1").arg(name));
  }
  for (const QString& field : parser.values(allow_same)) {
    if (!IdentityFields().contains(field)) {
      return usage_error(QStringLiteral("--allow-same takes one of %1, not \"%2\"").arg(IdentityFields().join(QStringLiteral(", ")), field));
    }
  }
  if ((parser.isSet(report) || parser.isSet(deadline)) && !command->NeedsLink()) {
    return usage_error(QStringLiteral("%1 talks to no device: --report and --deadline do not go with it").arg(name));
  }
  if (parser.isSet(wait) && !command->NeedsLink()) return usage_error(QStringLiteral("--wait goes with a search"));

  const LinkOptions links = ScanLinks(parser);
  if (!links.error.isEmpty()) return usage_error(links.error);
  settings.local_port = links.local_port;
  if (parser.isSet(units_file) && !links.links.empty()) {
    return usage_error(QStringLiteral("--units names the devices itself: give no --serial or --udp with it"));
  }
  if (command->NeedsLink() && links.links.empty() && !parser.isSet(units_file)) {
    return usage_error(QStringLiteral("%1 needs a device: --serial PATH or --udp ADDRESS").arg(name));
  }
  if (!command->NeedsLink() && !links.links.empty()) return usage_error(QStringLiteral("%1 needs no LINK").arg(name));
  if (command->IsSearch() && (links.links.size() != 1 || links.links[0].kind != Link::Udp)) {
    return usage_error(QStringLiteral("%1 searches one network: give one --udp ADDRESS (a broadcast address)").arg(name));
  }

  CommandOptions options;
  options.args = positional;
  options.output = parser.value(output);
  options.verify = parser.isSet(verify);
  options.json = as_json;
  options.gather_facts = parser.isSet(report) && changes_devices;
  options.expect_version = parser.value(expect_version);
  options.restart_wait_ms = restart_wait_s * 1000;
  options.wait_ms = wait_ms;
  QString error;
  if (!ReadRegisterOptions(parser, name, &options.registry, &error)) return usage_error(error);
  if (const int status = command->Prepare(options, &error); status != kExitDone) return fail(error, status, false);

  Output out(as_json, Output::StderrIsTerminal(), command->DocumentOnStdout());
  if (!command->NeedsLink()) return command->RunLocal(out);

  std::vector<Unit> units;
  if (parser.isSet(units_file)) {
    units = ReadUnitsSheet(parser.value(units_file), *command->WrittenProfile(), &error);
    if (units.empty()) return fail(error, kExitBadInput, false);
  } else {
    for (const DeviceLink& l : links.links) units.push_back(Unit{l, std::nullopt, QString()});
  }
  // The report is opened before any device is asked anything: a file that cannot be
  // written stops the run while nothing has been sent.
  ReportWriter report_writer;
  if (parser.isSet(report) && !report_writer.Open(parser.value(report), &error)) return fail(error, kExitBadInput, false);

  // Rows go to the register on its own thread; Finish waits for them and says when some
  // could not be written.
  DeviceRecorder recorder(options.registry);
  Fleet fleet(settings, out);
  fleet.OnUnitDone([&recorder](const DeviceLink& link, const ReportRow& row) { recorder.Record(link, row); });
  auto search = [&](const DeviceLink& target, std::vector<FoundDevice>* found) {
    const int status = fleet.Search(target, wait_ms, found, &error);
    for (const FoundDevice& d : *found) recorder.Record(d);
    return status;
  };
  auto print_found = [&](const DeviceLink& target, const std::vector<FoundDevice>& found) {
    DiscoverCommand::Print(out, found);
    const int status = found.empty() ? fail(QStringLiteral("no device answered at %1").arg(target.address.toString()), kExitNoAnswer, false)
                                     : kExitDone;
    return recorder.Finish(out, status);
  };
  for (auto it = units.begin(); it != units.end(); ++it) {
    if (!it->link.any_sender) continue;
    const DeviceLink target = it->link;
    std::vector<FoundDevice> found;
    if (const int status = search(target, &found); status != kExitDone) return fail(error, status, false);
    if (command->IsSearch()) return print_found(target, found);
    if (found.empty()) {
      return fail(QStringLiteral("no device answered at %1 within %2 ms; nothing was sent beyond the search")
                      .arg(target.address.toString())
                      .arg(wait_ms),
                  kExitNoAnswer, false);
    }
    if (found.size() > 1 && !parser.isSet(all)) {
      return fail(QStringLiteral("%1 devices answered at %2; nothing was written. Give one of them as --udp ADDRESS, "
                                 "or --all to run %3 on each:%4")
                      .arg(found.size())
                      .arg(target.address.toString(), name, DiscoverCommand::List(found)),
                  kExitBadInput, false);
    }
    std::vector<Unit> each;
    for (const FoundDevice& d : found) {
      Unit u{target, std::nullopt, QString()};
      u.link.address = QHostAddress(d.from.ipv4);
      u.link.device_port = d.from.port;
      u.link.any_sender = false;
      each.push_back(u);
    }
    it = units.erase(it);
    it = units.insert(it, each.begin(), each.end()) + static_cast<std::ptrdiff_t>(each.size()) - 1;
  }
  if (command->IsSearch()) {
    // A unicast address: the search is one question to that device.
    std::vector<FoundDevice> found;
    if (const int status = search(units[0].link, &found); status != kExitDone) return fail(error, status, false);
    return print_found(units[0].link, found);
  }
  if (command->OneDeviceOnly() && units.size() > 1) return usage_error(QStringLiteral("%1 reads one device; give one LINK").arg(name));

  // One identity per unit: a profile that sets a static IP, a MAC or MQTT credentials is
  // not put on several devices alike by surprise.
  if (const Profile* written = command->WrittenProfile(); written && units.size() > 1) {
    std::vector<const Profile*> profiles;
    for (const Unit& u : units) profiles.push_back(u.profile ? &*u.profile : written);
    const QStringList shared = SharedIdentity(profiles, parser.values(allow_same));
    if (!shared.isEmpty()) {
      return fail(QStringLiteral("%1 would give several devices the same identity: %2. Give each its own with --units "
                                 "FILE.csv, or --allow-same FIELD where that is meant; nothing was written")
                      .arg(name, shared.join(QStringLiteral("; "))),
                  kExitBadInput, false);
    }
  }
  const int status = fleet.Run(*command, units, parser.isSet(report) ? &report_writer : nullptr);
  return recorder.Finish(out, status);
}

}  // namespace velmora::cli
