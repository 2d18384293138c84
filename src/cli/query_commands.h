#pragma once
// version, csq, clock, reset: one request each, no arguments, the answer is the result.

#include <memory>

#include "cli/command.h"
#include "cli/step_job.h"

namespace velmora::cli {

template <typename Job>
class QueryCommand : public Command {
 public:
  QueryCommand(const char* name, const char* description) : name_(name), description_(description) {}
  QString Name() const override { return QString::fromLatin1(name_); }
  QString Synopsis() const override { return Name(); }
  QString Description() const override { return QString::fromLatin1(description_); }
  int Prepare(const CommandOptions& o, QString* error) override { return NeedArgs(o, 0, Synopsis(), error); }
  std::unique_ptr<DeviceJob> MakeJob(Output&, const Unit&) const override { return std::make_unique<Job>(); }

 private:
  const char* name_;
  const char* description_;
};

class VersionJob : public StepJob {
  void Run() override;
};

class CsqJob : public StepJob {
  void Run() override;
};

class ClockJob : public StepJob {
  void Run() override;
};

class ResetJob : public StepJob {
  void Run() override;
};

}  // namespace velmora::cli
