#pragma once
// The command line's side of the device register: one row per device result, written
// on the register's own thread while the other devices go on, and at the end one line
// when rows could not be written.

#include <QString>

#include <memory>

#include "cli/output.h"
#include "cli/register_options.h"
#include "session/device_session.h"

namespace velmora {
class RegisterWriter;
struct FoundDevice;
struct RegisterRow;
}  // namespace velmora

namespace velmora::cli {

struct ReportRow;

// The register's row of a unit's report row: the version after an upgrade where one was
// read back, else the one before; operation is the command's name.
RegisterRow RowOf(const DeviceLink& link, const ReportRow& unit);
// A device that answered a search, as "discover".
RegisterRow RowOf(const FoundDevice& device);

class DeviceRecorder {
 public:
  // Records nothing when `options` turn the register off.
  explicit DeviceRecorder(const RegisterOptions& options);
  ~DeviceRecorder();

  void Record(const DeviceLink& link, const ReportRow& unit);
  void Record(const FoundDevice& device);
  // Waits for the rows. When some could not be written, says so in one line (a JSON
  // object with --json) and turns a `status` of success into kExitRegisterFailed;
  // any other status is the devices' word and stays. Returns the status.
  int Finish(Output& out, int status);

 private:
  std::unique_ptr<RegisterWriter> writer_;
};

}  // namespace velmora::cli
