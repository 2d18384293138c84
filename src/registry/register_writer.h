#pragma once
// Writes register rows on a thread of its own, so a register that is slow, locked or gone
// never holds up the work with the devices. Rows are written in the order given, as many
// as are waiting in one transaction; the register is opened on the first row and opened
// again after any failure (a PostgreSQL server may come back).

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "registry/register_row.h"

namespace velmora {

class RegisterWriter {
 public:
  // Runs on the writer's thread each time rows could not be written: how many, and why.
  using FailureHandler = std::function<void(int rows, const QString& error)>;

  RegisterWriter(QString url, FailureHandler on_failure);
  // Writes what is waiting, then ends the thread.
  ~RegisterWriter();
  RegisterWriter(const RegisterWriter&) = delete;
  RegisterWriter& operator=(const RegisterWriter&) = delete;

  void Add(RegisterRow row);
  // Returns once every row given so far has been written or has failed.
  void Flush();

  struct Counts {
    int written = 0;
    int failed = 0;
    QString first_error;
  };
  Counts Totals() const;

 private:
  void Run();

  const QString url_;
  const FailureHandler on_failure_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<RegisterRow> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  Counts counts_;
  std::thread thread_;
};

}  // namespace velmora
