#pragma once
// The simulated device: answers Command frames with Reply frames, keeps its records,
// takes firmware, and applies the faults it was told to show.

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware_receiver.h"
#include "frame_parser.h"
#include "record_store.h"
#include "sim_types.h"

namespace velmora::sim {

inline constexpr char kDefaultVersion[] = "DTU V2.4.1 (simulator)";
inline constexpr uint8_t kDefaultCsq = 23;

struct DeviceOptions {
  std::string version = kDefaultVersion;  // 0xE3 answer: GBK bytes, at most 255
  // The 0xE3 answer once an image has been accepted: the new firmware's version.
  std::optional<std::string> version_after_upgrade;
  uint8_t csq = kDefaultCsq;
  // The device's identity, written into its configuration record at power-on over what
  // the record (or the state file) holds; a later write from the tool replaces it.
  std::optional<Ipv4Octets> local_ip;
  std::optional<MacBytes> mac;
  bool xerr_end = false;      // answer "XERR" to every firmware end frame
  bool ok_end = false;        // answer "OK" to every firmware end frame, judging nothing
  Nanos restart = 0;          // deaf and mute this long after accepting an image
  bool silent = false;        // act on everything, send nothing (a cut transmit line)
  int drop_every = 0;         // drop every Nth Reply frame; 0: none
  int interleave_every = 0;   // a text line after every Nth Reply frame sent; 0: none
  QString state_path;         // keep the records here across restarts; empty: memory only
  QString image_path;         // write an accepted firmware image here; empty: memory only
};

// Gaps on the line around device text, so the tool sees it as a burst of its own.
inline constexpr Nanos kBootPause = 60 * kMilli;
inline constexpr Nanos kTextGuard = 20 * kMilli;

// Something the device sends: a Reply frame or a plain text burst.
struct Output {
  std::vector<uint8_t> bytes;
  bool text = false;
  uint8_t code = 0;         // the reply's code; 0 for text
  Nanos pause_before = 0;   // quiet line wanted before it
  Nanos quiet_after = 0;    // quiet line wanted after it
  std::string label;        // how the log names it
};

// Named counts, printed on exit as "  name value".
class Counters {
 public:
  void Add(const std::string& name, uint64_t n = 1) { values_[name] += n; }
  uint64_t Get(const std::string& name) const;
  const std::map<std::string, uint64_t>& All() const { return values_; }

 private:
  std::map<std::string, uint64_t> values_;
};

class Device {
 public:
  // `where` is the link's name, or "device" for what concerns neither link.
  using Log = std::function<void(const std::string& where, const std::string& line)>;

  // `records` is what the device holds at power-on.
  Device(DeviceOptions options, RecordStore records, Counters& counts, Log log);

  // One frame, or one rejected candidate, that arrived from a link at `now`; what to
  // send back on that link.
  std::vector<Output> OnParsed(SimLink link, const Parsed& parsed, Nanos now);

  const RecordStore& Records() const { return records_; }
  const FirmwareReceiver& Firmware() const { return firmware_; }

 private:
  std::vector<Output> OnFrame(SimLink link, const DeviceFrame& frame, Nanos now);
  std::vector<Output> OnFirmware(SimLink link, const DeviceFrame& frame, Nanos now);
  void Malformed(SimLink link, const std::string& reason, const std::vector<uint8_t>& raw);
  Output Reply(uint8_t code, std::span<const uint8_t> payload, std::string label = {});
  Output Text(const std::string& text, Nanos pause_before);
  void Persist();
  bool KeepImage(const std::vector<uint8_t>& image);
  // Applies the faults to what the device wants to send, and counts what goes.
  std::vector<Output> Send(SimLink link, std::vector<Output> wanted);

  DeviceOptions options_;
  RecordStore records_;
  Counters& counts_;
  Log log_;
  FirmwareReceiver firmware_;
  uint64_t replies_wanted_ = 0;
  uint64_t replies_sent_ = 0;
  std::optional<Nanos> restarting_until_;  // frames before this are lost
};

}  // namespace velmora::sim
