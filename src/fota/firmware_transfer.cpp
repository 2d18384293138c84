#include "fota/firmware_transfer.h"

#include <QFileInfo>

#include <cstring>
#include <limits>

#include "protocol/command_frame.h"

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#else
#include <QDateTime>
#endif

namespace velmora {

namespace {

bool TextBeginsWith(std::span<const uint8_t> text, const char* word) {
  const std::size_t n = std::strlen(word);
  return text.size() >= n && std::memcmp(text.data(), word, n) == 0;
}

void PutBigEndian32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

}  // namespace

FirmwareTransfer::FirmwareTransfer(Sender serial, Sender udp) : serial_(std::move(serial)), udp_(std::move(udp)) {}

bool FirmwareTransfer::OpenFile(const QString& path) {
  CloseFile();
  file_.setFileName(path);
  // Unbuffered: each chunk is read straight into the frame buffer.
  open_ = !path.isEmpty() && file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  if (!open_) {
    file_.close();
    info_ = {};  // nothing is shown of a file that was not opened
    return false;
  }
  info_.path = path;
  info_.name = QFileInfo(path).fileName();
  info_.length = static_cast<uint64_t>(file_.size());
  stamp_ = Stamp();
  return true;
}

void FirmwareTransfer::CloseFile() {
  if (file_.isOpen()) file_.close();
  open_ = false;
}

void FirmwareTransfer::EndTransfer() {
  CloseFile();
  ticks_ = -1;
  retry_ = false;
}

FotaOutcome FirmwareTransfer::ChooseFile(const QString& path) {
  EndTransfer();
  const bool opened = OpenFile(path);
  progress_ = 0;
  sequence_ = 0;
  if (!opened) return FotaOutcome::kCannotOpen;
  if (info_.length > std::numeric_limits<uint32_t>::max()) {
    CloseFile();
    return FotaOutcome::kFileTooLarge;
  }
  return FotaOutcome::kFileChosen;
}

FotaOutcome FirmwareTransfer::Start(const QString& path, Link link) {
  if (path.isEmpty()) return FotaOutcome::kEmptyPath;
  EndTransfer();
  link_ = link;
  progress_ = 0;
  sequence_ = 0;
  sum_ = 0;
  sent_bytes_ = 0;
  end_frames_sent_ = 0;
  end_frames_ok_ = 0;
  frame_len_ = 0;
  // The length is taken again here: the path may have been typed by hand, or the file
  // rebuilt since it was chosen, and the end frame must carry what is really sent.
  if (!OpenFile(path)) return FotaOutcome::kCannotOpen;
  if (info_.length > std::numeric_limits<uint32_t>::max()) {
    CloseFile();
    return FotaOutcome::kFileTooLarge;
  }
  const int n = BuildDataFrame();
  if (n < 0) return Fail(n);
  if (n == 0) {
    // Nothing to send; no handle is kept on the file.
    EndTransfer();
    return FotaOutcome::kEmptyFile;
  }
  retry_ = true;
  progress_ = 1;
  ++sequence_;
  ticks_ = 0;
  Send();
  return FotaOutcome::kStarted;
}

FotaOutcome FirmwareTransfer::HandleReply(const ReplyFrame& frame) {
  if (frame.bytes.size() < 3 || frame.Code() != cmd::kFirmware) return FotaOutcome::kNone;
  if (frame.link != link_) return FotaOutcome::kNone;
  // Only the text of the frame itself: the other transport's buffer holds whatever its
  // last traffic left there, an old "OK" included.
  const auto text = frame.Text();
  if (TextBeginsWith(text, "OK")) {
    // Late or stray: after an ending nothing is awaited and no file is open.
    if (!Awaiting() || !file_.isOpen()) return FotaOutcome::kNone;
    if (frame_is_end_ && ++end_frames_ok_ >= end_frame_limit_ && end_frame_limit_ > 0) {
      EndTransfer();
      return FotaOutcome::kEndFrameLoop;
    }
    const int n = BuildDataFrame();
    if (n < 0) return Fail(n);
    FotaOutcome outcome = FotaOutcome::kEndFrameSent;
    if (n > 0) {
      ++sequence_;
      ++progress_;
      outcome = FotaOutcome::kDataFrameSent;
    } else {
      // Also the answer to an "OK" for the end frame: the same end frame again.
      BuildEndFrame();
    }
    ticks_ = 0;
    retry_ = true;
    Send();
    return outcome;
  }
  if (TextBeginsWith(text, "XERR")) {
    EndTransfer();
    return FotaOutcome::kCheckFailed;
  }
  if (TextBeginsWith(text, "YES")) {
    EndTransfer();
    return FotaOutcome::kAccepted;
  }
  return FotaOutcome::kNone;
}

FotaOutcome FirmwareTransfer::Tick() {
  if (ticks_ < 0) return FotaOutcome::kNone;
  if (++ticks_ < kSilentTicks) return FotaOutcome::kNone;
  if (retry_) {
    retry_ = false;
    ticks_ = 0;
    Send();
    return FotaOutcome::kResent;
  }
  EndTransfer();
  return FotaOutcome::kTimedOut;
}

FotaOutcome FirmwareTransfer::Stop() {
  EndTransfer();
  progress_ = 0;
  sequence_ = 0;
  return FotaOutcome::kStopped;
}

FotaOutcome FirmwareTransfer::SerialLost() {
  if (!Awaiting()) return FotaOutcome::kNone;
  EndTransfer();
  return FotaOutcome::kSerialLost;
}

FotaOutcome FirmwareTransfer::Fail(int build_result) {
  EndTransfer();
  return build_result == kChanged ? FotaOutcome::kFileChanged : FotaOutcome::kReadFailed;
}

FirmwareTransfer::FileStamp FirmwareTransfer::Stamp() {
  FileStamp s;
#ifdef Q_OS_LINUX
  // From the open handle: a file deleted under the transfer still reads as it was.
  struct stat st {};
  if (::fstat(file_.handle(), &st) == 0) {
    s.size = static_cast<int64_t>(st.st_size);
    s.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
#else
  s.size = file_.size();
  s.modified_ns = QFileInfo(file_.fileName()).lastModified().toMSecsSinceEpoch() * 1000000;
#endif
  return s;
}

int FirmwareTransfer::BuildDataFrame() {
  frame_[0] = kFrameStart;
  frame_[1] = kDirToDevice;
  frame_[2] = cmd::kFirmware;
  frame_[3] = sequence_;
  frame_[4] = 0;
  frame_[5] = 0;
  frame_len_ = 0;
  frame_is_end_ = false;
  if (!file_.isOpen()) return kReadError;
  // Checked before every read, so the end frame never follows a change either.
  if (Stamp() != stamp_) return kChanged;
  char* const data = reinterpret_cast<char*>(frame_.data() + kHeaderSize);
  qint64 n = 0;
  // An unbuffered read may return less than asked before the end of the file.
  while (n < static_cast<qint64>(kChunkSize)) {
    const qint64 got = file_.read(data + n, static_cast<qint64>(kChunkSize) - n);
    if (got < 0) return kReadError;
    if (got == 0) break;
    n += got;
  }
  if (n == 0) return 0;
  frame_[4] = static_cast<uint8_t>(n >> 8);
  frame_[5] = static_cast<uint8_t>(n);
  const auto chunk = std::span(frame_).subspan(kHeaderSize, static_cast<std::size_t>(n));
  for (uint8_t b : chunk) sum_ += b;
  sent_bytes_ += static_cast<uint64_t>(n);
  const std::size_t body = kHeaderSize + static_cast<std::size_t>(n);
  frame_[body] = Checksum8(std::span(frame_).first(body));
  frame_[body + 1] = kFrameEnd;
  frame_len_ = body + 2;
  return static_cast<int>(n);
}

void FirmwareTransfer::BuildEndFrame() {
  frame_[0] = kFrameStart;
  frame_[1] = kDirToDevice;
  frame_[2] = cmd::kFirmware;
  frame_[3] = kEndFrameSequence;
  frame_is_end_ = true;
  frame_[4] = 0x00;
  frame_[5] = 0x08;
  // The recorded length, not the bytes sent: a file that shrank meanwhile must fail the
  // device's check rather than pass as a shorter image.
  PutBigEndian32(&frame_[6], static_cast<uint32_t>(info_.length));
  PutBigEndian32(&frame_[10], sum_);
  frame_[14] = Checksum8(std::span(frame_).first(14));
  frame_[15] = kFrameEnd;
  frame_len_ = kEndFrameSize;
}

void FirmwareTransfer::Send() {
  // State is complete before the call: a sender that reports a failure in a modal box
  // lets ticks and replies run meanwhile.
  const auto bytes = LastFrame();
  if (bytes.empty()) return;
  if (frame_is_end_) ++end_frames_sent_;
  const Sender& send = link_ == Link::Serial ? serial_ : udp_;
  if (send) send(bytes);
}

}  // namespace velmora
