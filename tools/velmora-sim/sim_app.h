#pragma once
// The simulator's links: a pseudo-terminal (or a serial device) and a UDP socket, both
// served by one Device on the Qt event loop.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <memory>

#include "device.h"
#include "link_context.h"
#include "sim_options.h"

namespace velmora::sim {

class SerialSide;
class UdpSide;

class SimApp {
 public:
  // Log lines and the start-up lines go to `out`.
  SimApp(SimOptions options, std::FILE* out);
  ~SimApp();

  SimApp(const SimApp&) = delete;
  SimApp& operator=(const SimApp&) = delete;

  // Opens the links and prints "serial: PATH", "link: ..." and "udp: ADDRESS:PORT", then
  // "ready". False with a message when a link cannot be opened.
  bool Start(QString* error);

  // Closes the links and removes the symbolic link.
  void Stop();

  // "counts:" and one "  name value" line per count.
  void PrintCounts();

  const Counters& Counts() const { return counts_; }

 private:
  Nanos Now() const { return clock_.nsecsElapsed(); }
  void Log(const std::string& where, const std::string& line);
  LinkContext Context();

  SimOptions options_;
  std::FILE* out_;
  QElapsedTimer clock_;
  Counters counts_;
  std::unique_ptr<Device> device_;
  std::unique_ptr<SerialSide> serial_;
  std::unique_ptr<UdpSide> udp_;
  bool link_made_ = false;
};

}  // namespace velmora::sim
