#include "support/cli_process.h"

#include <QDateTime>
#include <QDeadlineTimer>

#include <csignal>
#include <sys/prctl.h>

namespace velmora::test {

QString CliProcess::Program() { return QStringLiteral(VELMORA_CLI_PATH); }

bool CliProcess::Start(const QString& program, const QStringList& args) {
  if (launcher_.isEmpty()) {
    process_.setProgram(program);
    process_.setArguments(args);
  } else {
    // `ip netns exec` replaces itself with the program: signals reach the program.
    process_.setProgram(launcher_.first());
    process_.setArguments(launcher_.mid(1) + QStringList{program} + args);
  }
  // A test that dies must not leave the program behind holding its links.
  process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  started_ms_ = QDateTime::currentMSecsSinceEpoch();
  process_.start();
  return process_.waitForStarted(10000);
}

QString CliProcess::OutputSoFar() {
  process_.waitForReadyRead(10);
  out_ += process_.readAllStandardOutput();
  return QString::fromUtf8(out_);
}

QString CliProcess::ErrorsSoFar() {
  process_.waitForReadyRead(10);
  err_ += process_.readAllStandardError();
  return QString::fromUtf8(err_);
}

CliRun CliProcess::Finish(int timeout_ms) {
  CliRun r;
  // An event loop run meanwhile may have seen the end already; waiting then says false.
  const bool ended = process_.state() == QProcess::NotRunning || process_.waitForFinished(timeout_ms);
  if (!ended) {
    process_.kill();
    process_.waitForFinished(5000);
  } else if (process_.exitStatus() == QProcess::NormalExit) {
    r.status = process_.exitCode();
  }
  r.elapsed_ms = QDateTime::currentMSecsSinceEpoch() - started_ms_;
  out_ += process_.readAllStandardOutput();
  r.out = QString::fromUtf8(out_);
  err_ += process_.readAllStandardError();
  r.err = QString::fromUtf8(err_);
  return r;
}

CliRun CliProcess::Run(const QStringList& args, int timeout_ms) { return RunThrough({}, args, timeout_ms); }

CliRun CliProcess::RunThrough(const QStringList& launcher, const QStringList& args, int timeout_ms) {
  CliProcess p;
  p.SetLauncher(launcher);
  if (!p.Start(args)) return CliRun{};
  return p.Finish(timeout_ms);
}

CliRun CliProcess::Run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                       int timeout_ms) {
  CliProcess p;
  p.process_.setProcessEnvironment(env);
  if (!p.Start(program, args)) return CliRun{};
  return p.Finish(timeout_ms);
}

}  // namespace velmora::test
