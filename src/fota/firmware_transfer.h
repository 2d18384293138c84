#pragma once
// Stop-and-wait firmware transfer: one frame in flight, acknowledged with "OK", watched
// by a 10 ms tick with one resend. It reports what happened as outcomes; the front ends
// (the upgrade dialog, the command line) put them into their own words.

#include <QFile>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "core/link.h"
#include "protocol/receive_pump.h"

namespace velmora {

enum class FotaOutcome : uint8_t {
  kNone,           // nothing happened that a front end shows
  kFileChosen,     // File() describes the chosen file; progress position 0
  kEmptyPath,      // start with an empty path: nothing else changed
  kCannotOpen,     // the path cannot be opened: no file; any running transfer has ended
  kFileTooLarge,   // the length does not fit the end frame's 32 bits: file closed
  kEmptyFile,      // start with an empty file: nothing sent, idle
  kStarted,        // first data frame sent: progress position 1
  kDataFrameSent,  // next data frame sent after "OK": progress one step further
  kEndFrameSent,   // end frame sent after "OK": progress unchanged
  kResent,         // the last frame sent once more after a silent period
  kCheckFailed,    // "XERR": the device's check failed, idle
  kAccepted,       // "YES": the device took the image and restarts, idle
  kTimedOut,       // still silent after the resend, idle
  kReadFailed,     // the file could not be read: idle, nothing sent
  kFileChanged,    // the file was changed while being sent: idle, nothing sent
  kSerialLost,     // the serial device went away during the transfer, idle
  kStopped,        // stop: progress position 0, idle
  kEndFrameLoop,   // the end frame was answered "OK" as often as the limit allows, idle
};

// The file a transfer sends; empty while no file is open.
struct FirmwareFileInfo {
  QString path;  // as it was opened
  QString name;  // without its folder
  uint64_t length = 0;
};

class FirmwareTransfer {
 public:
  using Sender = std::function<void(std::span<const uint8_t>)>;

  static constexpr std::size_t kChunkSize = 1024;
  static constexpr std::size_t kHeaderSize = 6;
  static constexpr std::size_t kFrameCapacity = kChunkSize + 8;
  static constexpr std::size_t kEndFrameSize = 16;
  static constexpr uint8_t kEndFrameSequence = 0xFF;
  static constexpr int kTickPeriodMs = 10;
  static constexpr int kSilentTicks = 300;

  // The senders get the whole frame in one call; the bytes are only valid during the call.
  FirmwareTransfer(Sender serial, Sender udp);

  FirmwareTransfer(const FirmwareTransfer&) = delete;
  FirmwareTransfer& operator=(const FirmwareTransfer&) = delete;

  // The open button: opens the file read-only and records its length. A running
  // transfer ends here, so chunks of two different images never reach the device.
  FotaOutcome ChooseFile(const QString& path);

  // The upgrade button: (re)opens `path`, takes its length again and sends the first
  // frame over `link`, which carries the whole transfer. A running transfer restarts from
  // the beginning.
  FotaOutcome Start(const QString& path, Link link);

  // A forwarded reply with command byte 0xE5, judged by its own text only, and only when it
  // came over the transfer's link: the other link's traffic is not the device being
  // upgraded. "OK" is acted on only while a frame is awaited; "XERR" and "YES" always end
  // the transfer.
  FotaOutcome HandleReply(const ReplyFrame& frame);

  // One tick of the dialog's 10 ms timer.
  FotaOutcome Tick();

  // With a limit, the transfer ends (kEndFrameLoop) once that many end frames have been
  // answered "OK": a device that only ever acknowledges the end frame, without taking or
  // refusing the image, would otherwise be sent it for ever. 0, the default: no limit.
  void SetEndFrameLimit(int limit) { end_frame_limit_ = limit; }

  // The stop button. Nothing is sent to the device.
  FotaOutcome Stop();

  // The serial device the frames go to has gone away (adapter pulled, far end hung up):
  // a running transfer ends now rather than after the resend and the time-out.
  FotaOutcome SerialLost();

  // --- state, for the dialog and for tests ---
  const FirmwareFileInfo& File() const { return info_; }
  // The link of the last start.
  Link TransferLink() const { return link_; }
  int ProgressPosition() const { return progress_; }
  bool Awaiting() const { return ticks_ >= 0; }
  bool IsOpen() const { return open_; }
  uint64_t RecordedLength() const { return info_.length; }
  uint8_t Sequence() const { return sequence_; }
  uint32_t RunningSum() const { return sum_; }
  int TickCount() const { return ticks_; }
  bool RetryPending() const { return retry_; }
  std::span<const uint8_t> LastFrame() const { return std::span(frame_).first(frame_len_); }
  // Data bytes read into frames since the start; below RecordedLength() at the end
  // frame when the file shrank during the transfer.
  uint64_t DataBytesSent() const { return sent_bytes_; }
  // How often the end frame of this transfer went out, resends included; and how many
  // of them the device answered "OK" (asking for it again) rather than "YES" or "XERR".
  int EndFramesSent() const { return end_frames_sent_; }
  int EndFramesAnsweredOk() const { return end_frames_ok_; }

 private:
  bool OpenFile(const QString& path);
  void CloseFile();
  // Ends the transfer: file closed, nothing awaited, no resend pending.
  void EndTransfer();
  // Reads the next chunk into the frame buffer: the data length, 0 when the file is
  // exhausted, kReadError or kChanged.
  static constexpr int kReadError = -1;
  static constexpr int kChanged = -2;
  int BuildDataFrame();
  // Ends the transfer after BuildDataFrame failed, with the outcome that says why.
  FotaOutcome Fail(int build_result);
  // Size and modification time of the open file, to tell a file changed under the
  // transfer: the device would accept a mix of old and new chunks whose sum matches.
  struct FileStamp {
    int64_t size = -1;
    int64_t modified_ns = 0;
    bool operator==(const FileStamp&) const = default;
  };
  FileStamp Stamp();
  void BuildEndFrame();
  void Send();

  Link link_ = Link::Serial;
  Sender serial_;
  Sender udp_;

  QFile file_;
  bool open_ = false;
  FirmwareFileInfo info_;
  FileStamp stamp_;
  uint8_t sequence_ = 0;
  uint32_t sum_ = 0;
  int ticks_ = -1;
  bool retry_ = false;
  int progress_ = 0;
  uint64_t sent_bytes_ = 0;
  int end_frames_sent_ = 0;
  int end_frames_ok_ = 0;
  bool frame_is_end_ = false;
  int end_frame_limit_ = 0;
  std::array<uint8_t, kFrameCapacity> frame_{};
  std::size_t frame_len_ = 0;
};

}  // namespace velmora
