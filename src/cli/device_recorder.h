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
struct RegisterRow;
}  // namespace velmora

namespace velmora::cli {

// The row a device result makes: the version and CSQ from its data, the rest from its
// facts; operation is the command's name.
RegisterRow RowOf(const DeviceLink& link, const QString& command, const DeviceResult& result);

class DeviceRecorder {
 public:
  // Records nothing when `options` turn the register off.
  explicit DeviceRecorder(const RegisterOptions& options);
  ~DeviceRecorder();

  void Record(const DeviceLink& link, const QString& command, const DeviceResult& result);
  // Waits for the rows. When some could not be written, says so in one line (a JSON
  // object with --json) and turns a `status` of success into kExitRegisterFailed;
  // any other status is the devices' word and stays. Returns the status.
  int Finish(Output& out, int status);

 private:
  std::unique_ptr<RegisterWriter> writer_;
};

}  // namespace velmora::cli
