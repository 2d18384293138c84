#pragma once
// One small class per command. A command checks its arguments and reads its files
// before any link is opened (so a bad file reaches no device), then either runs on its
// own (ports, template) or hands out one job per device.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/output.h"
#include "cli/register_options.h"
#include "profile/profile.h"
#include "session/device_session.h"

namespace velmora::cli {

struct CommandOptions {
  QStringList args;      // positional arguments after the command name
  QString output;        // -o
  bool verify = false;   // --verify
  bool json = false;
  // --report: before changing a device, its version and CSQ are read for the report.
  bool gather_facts = false;
  QString expect_version;    // --expect-version: the version the device must answer after an upgrade
  int restart_wait_ms = 30'000;  // --restart-wait: how long it may take to answer again
  int wait_ms = 1000;        // --wait: how long a search listens
  RegisterOptions registry;  // --register / --no-register, records' filters
};

// One device of a run: its link, and for a row of a units sheet the profile made for it.
struct Unit {
  DeviceLink link;
  std::optional<Profile> profile;  // replaces the command's profile for this device
  QString source;                  // where the unit came from, e.g. "units.csv row 3"
};

// The work on one device. Runs from the event loop; calls `done` exactly once unless
// interrupted.
class DeviceJob {
 public:
  using Progress = std::function<void(uint64_t sent, uint64_t total)>;
  using Done = std::function<void(DeviceResult)>;
  virtual ~DeviceJob() = default;
  virtual void Start(DeviceSession& session, Progress progress, Done done) = 0;
  // Where the job stood when Ctrl-C came, for the interrupted line.
  virtual QString Where(const DeviceSession& session) const = 0;
};

class Command {
 public:
  virtual ~Command() = default;
  virtual QString Name() const = 0;
  virtual QString Synopsis() const = 0;  // e.g. "write-config PROFILE [--verify]"
  virtual QString Description() const = 0;
  virtual bool NeedsLink() const { return true; }
  // Which of -o and --verify the command takes; either one given to another is an error.
  virtual bool TakesOutput() const { return false; }
  virtual bool TakesVerify() const { return false; }
  // Commands whose result is a document take exactly one device.
  virtual bool OneDeviceOnly() const { return false; }

  // Checks the arguments and reads the files. Returns an exit status; on anything but
  // 0 `error` says what is wrong.
  virtual int Prepare(const CommandOptions& options, QString* error) = 0;
  // Standard output carries a document (a profile); result lines go to standard error.
  virtual bool DocumentOnStdout() const { return false; }

  // Commands without a link.
  virtual int RunLocal(Output& out) {
    (void)out;
    return 0;
  }
  // Commands on devices: one job each.
  virtual std::unique_ptr<DeviceJob> MakeJob(Output& out, const Unit& unit) const {
    (void)out;
    (void)unit;
    return nullptr;
  }

  // The profile the command writes to every device (write-config, write-mqtt, apply), so
  // a units sheet can give each device its own; null for the other commands.
  virtual const Profile* WrittenProfile() const { return nullptr; }
  // The command's own work after its LINKs were searched for (discover).
  virtual bool IsSearch() const { return false; }
};

// Every command, in the order the help lists them.
std::vector<std::unique_ptr<Command>> AllCommands();

// kExitDone when exactly `n` arguments follow the command name; else the usage line.
int NeedArgs(const CommandOptions& options, int n, const QString& synopsis, QString* error);

}  // namespace velmora::cli
