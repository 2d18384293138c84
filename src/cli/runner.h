#pragma once
// Runs a command on many devices at once: every link opened before any device is
// asked anything, one line per device as each finishes, a summary table for several
// devices, a report row per unit; Ctrl-C and --deadline stop every device cleanly and
// say where each stood. Broadcast LINKs are searched first.

#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <vector>

#include "cli/command.h"
#include "cli/output.h"
#include "cli/report.h"
#include "discovery/device_search.h"
#include "session/device_session.h"

namespace velmora {
class UdpHub;
}

namespace velmora::cli {

class InterruptWatch;

struct RunSettings {
  int timeout_ms = 3000;
  quint16 local_port = 20;
  qint64 deadline_ms = 0;  // 0: none
};

class Fleet {
 public:
  Fleet(const RunSettings& settings, Output& out);
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // Searches `target` (a broadcast or multicast address and its device port) for
  // `wait_ms`. Returns 0 with the devices that answered (maybe none), or the exit status
  // of what stopped it: the local port could not be had (3), Ctrl-C (130), the deadline (1).
  int Search(const DeviceLink& target, int wait_ms, std::vector<FoundDevice>* found, QString* error);

  // The command's job on every unit. Returns 0 when every device succeeded, 130 when
  // interrupted, else the highest status any device ended with. Rows go to `report`
  // when given, as each unit ends.
  int Run(const Command& command, const std::vector<Unit>& units, ReportWriter* report);

  // Called with each unit's link and report row as it ends (the device register listens here).
  using UnitDone = std::function<void(const DeviceLink&, const ReportRow&)>;
  void OnUnitDone(UnitDone listener) { unit_done_ = std::move(listener); }

 private:
  bool OpenHub(QString* error);
  // Time left before the deadline; a large number without one.
  qint64 Left() const;

  RunSettings settings_;
  Output& out_;
  QElapsedTimer since_start_;
  std::unique_ptr<UdpHub> hub_;
  QString hub_error_;
  bool hub_tried_ = false;
  std::unique_ptr<InterruptWatch> interrupts_;
  UnitDone unit_done_;
};

}  // namespace velmora::cli
