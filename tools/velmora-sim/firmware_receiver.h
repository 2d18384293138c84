#pragma once
// The device side of the firmware transfer: checks each frame, collects the image and
// judges it against the end frame's length and 32-bit sum.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora::sim {

enum class FwAnswer : uint8_t { kNone, kOk, kYes, kXerr };
const char* AnswerText(FwAnswer a);  // "OK", "YES", "XERR", "" for none

enum class FwEvent : uint8_t {
  kChunkTaken,
  kChunkRepeated,   // the tool resent the frame already taken: acknowledged, not added again
  kRestarted,       // a first frame while an image was being collected: the tool began again
  kOutOfSequence,   // not the frame expected, nor the last one again: not acknowledged
  kTooLarge,        // the image would not fit the device
  kImageAccepted,
  kImageRejected,   // length or sum differ, the check was told to fail, or the image could not be kept
  kEndRepeated,     // the same end frame again after the image was judged: the same answer
  kEndWithoutImage,
  kEndNotJudged,    // told to answer "OK" to every end frame: nothing judged, collecting goes on
};
const char* EventName(FwEvent e);

struct FwResult {
  FwAnswer answer = FwAnswer::kNone;
  FwEvent event = FwEvent::kChunkTaken;
  std::string detail;  // for the log
};

class FirmwareReceiver {
 public:
  static constexpr uint8_t kEndSequence = 0xFF;
  static constexpr std::size_t kEndDataSize = 8;
  // What the simulated device can hold; larger images are refused with "XERR".
  static constexpr std::size_t kCapacity = 64u << 20;

  // Called with the finished image before "YES" is given; false turns it into "XERR".
  using ImageSink = std::function<bool(const std::vector<uint8_t>&)>;

  explicit FirmwareReceiver(ImageSink sink = {}) : sink_(std::move(sink)) {}

  // Answer "XERR" to every end frame, whatever the image.
  void SetFailEnd(bool fail) { fail_end_ = fail; }
  // Answer "OK" to every end frame and judge nothing: a faulty device the tool never
  // hears "YES" or "XERR" from.
  void SetOkEnd(bool ok) { ok_end_ = ok; }

  // One firmware frame that passed the framing checks: its sequence byte and data.
  FwResult Take(uint8_t sequence, std::span<const uint8_t> data);

  // A reset: whatever was being collected is forgotten.
  void Reset();

  bool Receiving() const { return receiving_; }
  uint8_t ExpectedSequence() const { return expected_; }
  std::size_t ImageSize() const { return image_.size(); }
  uint32_t ImageSum() const { return sum_; }
  // The last image that was answered "YES".
  const std::vector<uint8_t>& AcceptedImage() const { return accepted_; }

 private:
  bool IsEndFrame(uint8_t sequence, std::span<const uint8_t> data) const;
  bool EndMatches(std::span<const uint8_t> data) const;
  FwResult TakeEnd(std::span<const uint8_t> data);
  FwResult TakeData(uint8_t sequence, std::span<const uint8_t> data, FwEvent event);
  void Begin();

  ImageSink sink_;
  bool fail_end_ = false;
  bool ok_end_ = false;
  bool receiving_ = false;
  uint8_t expected_ = 0;
  std::vector<uint8_t> image_;
  uint32_t sum_ = 0;
  // The frame last acknowledged, to recognise the tool's resend of it.
  std::optional<uint8_t> last_sequence_;
  std::vector<uint8_t> last_data_;
  // The last end frame judged and its answer, for a resend of that end frame.
  std::vector<uint8_t> last_end_;
  FwAnswer last_end_answer_ = FwAnswer::kNone;
  std::vector<uint8_t> accepted_;
};

}  // namespace velmora::sim
