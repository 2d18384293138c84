#include "registry/register_writer.h"

#include <memory>
#include <vector>

#include "registry/device_register.h"

namespace velmora {

namespace {
// Rows per transaction: enough to keep up with a burst, few enough that a failure loses
// little more than the rows that really failed.
constexpr std::size_t kBatch = 500;
}  // namespace

RegisterWriter::RegisterWriter(QString url, FailureHandler on_failure)
    : url_(std::move(url)), on_failure_(std::move(on_failure)), thread_([this] { Run(); }) {}

RegisterWriter::~RegisterWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void RegisterWriter::Add(RegisterRow row) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(row));
  }
  wake_.notify_all();
}

void RegisterWriter::Flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

RegisterWriter::Counts RegisterWriter::Totals() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void RegisterWriter::Run() {
  // The connection lives and dies on this thread, as Qt SQL requires.
  std::unique_ptr<DeviceRegister> reg;
  for (;;) {
    std::vector<RegisterRow> batch;
    {
      std::unique_lock lock(mutex_);
      busy_ = false;
      idle_.notify_all();
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) break;
      while (!queue_.empty() && batch.size() < kBatch) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      busy_ = true;
    }
    QString error;
    if (!reg) reg = DeviceRegister::Open(url_, &error);
    const bool written = reg && reg->Add(batch, &error);
    if (!written) reg.reset();
    const int n = static_cast<int>(batch.size());
    {
      std::lock_guard lock(mutex_);
      if (written) {
        counts_.written += n;
      } else {
        counts_.failed += n;
        if (counts_.first_error.isEmpty()) counts_.first_error = error;
      }
    }
    if (!written && on_failure_) on_failure_(n, error);
  }
  reg.reset();
}

}  // namespace velmora
