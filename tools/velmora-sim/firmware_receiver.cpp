#include "firmware_receiver.h"

#include <algorithm>

namespace velmora::sim {

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool Same(std::span<const uint8_t> a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

const char* AnswerText(FwAnswer a) {
  switch (a) {
    case FwAnswer::kOk: return "OK";
    case FwAnswer::kYes: return "YES";
    case FwAnswer::kXerr: return "XERR";
    case FwAnswer::kNone: break;
  }
  return "";
}

const char* EventName(FwEvent e) {
  switch (e) {
    case FwEvent::kChunkTaken: return "chunk";
    case FwEvent::kChunkRepeated: return "repeated chunk";
    case FwEvent::kRestarted: return "restart";
    case FwEvent::kOutOfSequence: return "out of sequence";
    case FwEvent::kTooLarge: return "image too large";
    case FwEvent::kImageAccepted: return "image accepted";
    case FwEvent::kImageRejected: return "image rejected";
    case FwEvent::kEndRepeated: return "repeated end";
    case FwEvent::kEndWithoutImage: return "end without image";
    case FwEvent::kEndNotJudged: return "end not judged";
  }
  return "?";
}

void FirmwareReceiver::Reset() {
  receiving_ = false;
  expected_ = 0;
  image_.clear();
  sum_ = 0;
  last_sequence_.reset();
  last_data_.clear();
  last_end_.clear();
  last_end_answer_ = FwAnswer::kNone;
}

void FirmwareReceiver::Begin() {
  receiving_ = true;
  expected_ = 0;
  image_.clear();
  sum_ = 0;
  last_sequence_.reset();
  last_data_.clear();
}

bool FirmwareReceiver::EndMatches(std::span<const uint8_t> data) const {
  return BigEndian32(data.data()) == static_cast<uint32_t>(image_.size()) && BigEndian32(data.data() + 4) == sum_;
}

bool FirmwareReceiver::IsEndFrame(uint8_t sequence, std::span<const uint8_t> data) const {
  if (sequence != kEndSequence || data.size() != kEndDataSize) return false;
  if (!receiving_) return true;
  // Data frame 255 may carry exactly 8 bytes and then looks like the end frame. It can
  // only be that frame when it is the one expected, or its resend; an end frame then
  // is recognised by its content.
  if (last_sequence_ == kEndSequence && Same(data, last_data_)) return false;
  if (expected_ == kEndSequence) return EndMatches(data);
  return true;
}

FwResult FirmwareReceiver::Take(uint8_t sequence, std::span<const uint8_t> data) {
  if (IsEndFrame(sequence, data)) return TakeEnd(data);
  if (!receiving_) {
    if (sequence != 0)
      return {FwAnswer::kNone, FwEvent::kOutOfSequence, "seq " + std::to_string(sequence) + " with no transfer begun"};
    Begin();
    return TakeData(sequence, data, FwEvent::kChunkTaken);
  }
  if (sequence == expected_) return TakeData(sequence, data, FwEvent::kChunkTaken);
  if (last_sequence_ == sequence && Same(data, last_data_))
    return {FwAnswer::kOk, FwEvent::kChunkRepeated, "seq " + std::to_string(sequence) + " again"};
  if (sequence == 0) {
    Begin();
    return TakeData(sequence, data, FwEvent::kRestarted);
  }
  return {FwAnswer::kNone, FwEvent::kOutOfSequence,
          "seq " + std::to_string(sequence) + ", expected " + std::to_string(expected_)};
}

FwResult FirmwareReceiver::TakeData(uint8_t sequence, std::span<const uint8_t> data, FwEvent event) {
  if (image_.size() + data.size() > kCapacity) {
    Begin();
    receiving_ = false;
    return {FwAnswer::kXerr, FwEvent::kTooLarge, "more than " + std::to_string(kCapacity) + " bytes"};
  }
  image_.insert(image_.end(), data.begin(), data.end());
  for (uint8_t b : data) sum_ += b;
  last_sequence_ = sequence;
  last_data_.assign(data.begin(), data.end());
  expected_ = static_cast<uint8_t>(sequence + 1);
  return {FwAnswer::kOk, event, "seq " + std::to_string(sequence) + " len " + std::to_string(data.size())};
}

FwResult FirmwareReceiver::TakeEnd(std::span<const uint8_t> data) {
  if (ok_end_) return {FwAnswer::kOk, FwEvent::kEndNotJudged, "told to answer OK"};
  if (!receiving_) {
    if (last_end_answer_ != FwAnswer::kNone && Same(data, last_end_))
      return {last_end_answer_, FwEvent::kEndRepeated, "answered before"};
    return {FwAnswer::kXerr, FwEvent::kEndWithoutImage, "no image collected"};
  }
  const uint32_t length = BigEndian32(data.data());
  const uint32_t sum = BigEndian32(data.data() + 4);
  std::string detail = "length " + std::to_string(length) + "/" + std::to_string(image_.size()) + " sum " +
                       std::to_string(sum) + "/" + std::to_string(sum_);
  bool ok = EndMatches(data);
  if (ok && fail_end_) {
    ok = false;
    detail += ", told to fail";
  }
  if (ok && sink_ && !sink_(image_)) {
    ok = false;
    detail += ", image not kept";
  }
  if (ok) accepted_ = std::move(image_);
  const FwAnswer answer = ok ? FwAnswer::kYes : FwAnswer::kXerr;
  Begin();
  receiving_ = false;
  last_end_.assign(data.begin(), data.end());
  last_end_answer_ = answer;
  return {answer, ok ? FwEvent::kImageAccepted : FwEvent::kImageRejected, detail};
}

}  // namespace velmora::sim
