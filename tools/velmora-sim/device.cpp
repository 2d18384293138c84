#include "device.h"

#include <QSaveFile>

#include <algorithm>

#include "protocol/command_frame.h"
#include "protocol/hex_string.h"

namespace velmora::sim {

namespace {

// Frames up to this size are logged with their bytes.
constexpr std::size_t kHexLogLimit = 32;

std::string Dashed(std::string s) {
  for (char& c : s)
    if (c == ' ') c = '-';
  return s;
}

std::string Printable(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else s += c;
  }
  return s;
}

std::string WithHex(std::string line, const std::vector<uint8_t>& raw) {
  if (raw.size() <= kHexLogLimit) line += " | " + HexString(raw);
  return line;
}

// The payload size each command must carry; -1 for a code the device does not know.
int ExpectedPayload(uint8_t code) {
  switch (code) {
    case cmd::kWriteConfig: return static_cast<int>(kConfigRecordSize);
    case cmd::kWriteMqtt: return static_cast<int>(kMqttRecordSize);
    case cmd::kSyncClock: return 6;
    case cmd::kReadConfig:
    case cmd::kReadVersion:
    case cmd::kSoftwareReset:
    case cmd::kReadMqtt:
    case cmd::kReadCsq: return 0;
    default: return -1;
  }
}

}  // namespace

uint64_t Counters::Get(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? 0 : it->second;
}

Device::Device(DeviceOptions options, RecordStore records, Counters& counts, Log log)
    : options_(std::move(options)),
      records_(std::move(records)),
      counts_(counts),
      log_(std::move(log)),
      firmware_([this](const std::vector<uint8_t>& image) { return KeepImage(image); }) {
  firmware_.SetFailEnd(options_.xerr_end);
  firmware_.SetOkEnd(options_.ok_end);
  ConfigRecord config = records_.Config();
  if (options_.local_ip) SetConfigLocalIp(config, *options_.local_ip);
  if (options_.mac) SetConfigMac(config, *options_.mac);
  records_.SetConfig(config);
}

std::vector<Output> Device::OnParsed(SimLink link, const Parsed& parsed, Nanos now) {
  if (restarting_until_ && now < *restarting_until_) {
    // Nothing listens while the new firmware boots: the frame is not acted on.
    counts_.Add("unheard");
    log_(LinkName(link), "unheard while restarting");
    return {};
  }
  restarting_until_.reset();
  if (const auto* bad = std::get_if<Rejected>(&parsed)) {
    Malformed(link, RejectName(bad->reason), bad->raw);
    return {};
  }
  return OnFrame(link, std::get<DeviceFrame>(parsed), now);
}

void Device::Malformed(SimLink link, const std::string& reason, const std::vector<uint8_t>& raw) {
  counts_.Add("malformed");
  counts_.Add("malformed." + Dashed(reason));
  log_(LinkName(link), WithHex("bad " + reason + ", " + std::to_string(raw.size()) + " bytes", raw));
}

Output Device::Reply(uint8_t code, std::span<const uint8_t> payload, std::string label) {
  Output o;
  // Every answer the device has fits a frame (records of 221 and 129 bytes, short texts).
  o.bytes = BuildReplyFrame(code, payload).value_or(std::vector<uint8_t>{});
  o.code = code;
  o.label = label.empty() ? CodeName(code) + " len " + std::to_string(payload.size()) : std::move(label);
  o.label = WithHex(std::move(o.label), o.bytes);
  return o;
}

Output Device::Text(const std::string& text, Nanos pause_before) {
  Output o;
  o.bytes.assign(text.begin(), text.end());
  o.text = true;
  o.pause_before = pause_before;
  o.quiet_after = kTextGuard;
  o.label = "text \"" + Printable(text) + "\"";
  return o;
}

std::vector<Output> Device::OnFrame(SimLink link, const DeviceFrame& f, Nanos now) {
  if (f.firmware) return OnFirmware(link, f, now);
  const int expected = ExpectedPayload(f.code);
  if (expected < 0) {
    Malformed(link, "unknown code", f.raw);
    return {};
  }
  if (static_cast<int>(f.payload.size()) != expected) {
    Malformed(link, "wrong length", f.raw);
    return {};
  }
  counts_.Add("rx." + CodeName(f.code));
  log_(LinkName(link), WithHex("rx " + CodeName(f.code) + " len " + std::to_string(f.payload.size()), f.raw));

  switch (f.code) {
    case cmd::kWriteConfig:
      records_.SetConfig(f.payload);
      Persist();
      return Send(link, {Reply(f.code, records_.Config())});
    case cmd::kReadConfig:
      return Send(link, {Reply(f.code, records_.Config())});
    case cmd::kReadVersion: {
      const std::vector<uint8_t> text(options_.version.begin(), options_.version.end());
      return Send(link, {Reply(f.code, text)});
    }
    case cmd::kSoftwareReset:
      firmware_.Reset();
      return Send(link, {Reply(f.code, {}), Text("DTU boot: " + options_.version + "\r\n", kBootPause)});
    case cmd::kWriteMqtt:
      records_.SetMqtt(f.payload);
      Persist();
      return Send(link, {Reply(f.code, records_.Mqtt())});
    case cmd::kReadMqtt:
      return Send(link, {Reply(f.code, records_.Mqtt())});
    case cmd::kReadCsq: {
      const uint8_t csq[] = {options_.csq};
      return Send(link, {Reply(f.code, csq)});
    }
    case cmd::kSyncClock:
      return Send(link, {Reply(f.code, f.payload)});
    default:
      return {};
  }
}

std::vector<Output> Device::OnFirmware(SimLink link, const DeviceFrame& f, Nanos now) {
  counts_.Add("rx.E5");
  const FwResult r = firmware_.Take(f.sequence, f.payload);
  std::string line = "rx E5 seq " + std::to_string(f.sequence) + " len " + std::to_string(f.payload.size()) + ": " +
                     EventName(r.event);
  if (!r.detail.empty() && r.event != FwEvent::kChunkTaken) line += " (" + r.detail + ")";
  log_(LinkName(link), line);
  switch (r.event) {
    case FwEvent::kChunkTaken:
    case FwEvent::kRestarted:
      counts_.Add("fw.chunks");
      counts_.Add("fw.bytes", f.payload.size());
      if (r.event == FwEvent::kRestarted) counts_.Add("fw.restarts");
      break;
    case FwEvent::kChunkRepeated: counts_.Add("fw.repeats"); break;
    case FwEvent::kOutOfSequence: counts_.Add("fw.out-of-sequence"); break;
    case FwEvent::kTooLarge: counts_.Add("fw.too-large"); break;
    case FwEvent::kImageAccepted: counts_.Add("fw.images-accepted"); break;
    case FwEvent::kImageRejected: counts_.Add("fw.images-rejected"); break;
    case FwEvent::kEndRepeated: counts_.Add("fw.end-repeats"); break;
    case FwEvent::kEndWithoutImage: counts_.Add("fw.end-without-image"); break;
    case FwEvent::kEndNotJudged: counts_.Add("fw.ends-not-judged"); break;
  }
  if (r.answer == FwAnswer::kNone) return {};
  const std::string text = AnswerText(r.answer);
  std::vector<Output> out{Reply(f.code, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                                "E5 " + text)};
  if (r.event == FwEvent::kImageAccepted) {
    // The device restarts into the new image, and speaks again once it has booted.
    if (options_.version_after_upgrade) options_.version = *options_.version_after_upgrade;
    if (options_.restart > 0) restarting_until_ = now + options_.restart;
    out.push_back(Text("DTU boot: new image\r\n", std::max(kBootPause, options_.restart)));
  }
  return Send(link, std::move(out));
}

std::vector<Output> Device::Send(SimLink link, std::vector<Output> wanted) {
  std::vector<Output> out;
  for (Output& o : wanted) {
    if (!o.text) {
      ++replies_wanted_;
      if (options_.drop_every > 0 && replies_wanted_ % static_cast<uint64_t>(options_.drop_every) == 0) {
        counts_.Add("dropped");
        log_(LinkName(link), "drop " + o.label);
        continue;
      }
    }
    if (options_.silent) {
      counts_.Add("silenced");
      log_(LinkName(link), "hold " + o.label);
      continue;
    }
    const bool reply = !o.text;
    counts_.Add(reply ? "tx." + CodeName(o.code) : "text");
    out.push_back(std::move(o));
    if (reply && options_.interleave_every > 0 &&
        ++replies_sent_ % static_cast<uint64_t>(options_.interleave_every) == 0) {
      counts_.Add("text");
      out.push_back(Text("DTU: status " + std::to_string(replies_sent_) + ", csq " + std::to_string(options_.csq) +
                             "\r\n",
                         kTextGuard));
    }
  }
  return out;
}

void Device::Persist() {
  if (options_.state_path.isEmpty()) return;
  QString error;
  if (!records_.Save(options_.state_path, &error)) {
    counts_.Add("state-write-failed");
    log_("device", "error: cannot keep the records: " + error.toStdString());
  }
}

bool Device::KeepImage(const std::vector<uint8_t>& image) {
  if (options_.image_path.isEmpty()) return true;
  QSaveFile file(options_.image_path);
  const auto size = static_cast<qint64>(image.size());
  if (file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(image.data()), size) == size &&
      file.commit())
    return true;
  counts_.Add("image-write-failed");
  log_("device", "error: cannot write the image: " + options_.image_path.toStdString() + ": " +
                             file.errorString().toStdString());
  return false;
}

}  // namespace velmora::sim
