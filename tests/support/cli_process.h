#pragma once
// The built velmora-cli (or another program of the build) as a process: run it to the
// end, or start it and interrupt it.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <ostream>

namespace velmora::test {

struct CliRun {
  int status = -1;        // exit status; -1 when it did not end by itself
  QString out;            // standard output, UTF-8
  QString err;            // standard error, UTF-8
  qint64 elapsed_ms = 0;  // from start to exit
};

// Readable failures: the status and everything it printed.
inline std::ostream& operator<<(std::ostream& os, const CliRun& r) {
  return os << "status " << r.status << "\nstdout:\n" << r.out.toStdString() << "stderr:\n" << r.err.toStdString();
}

class CliProcess {
 public:
  static QString Program();

  // Runs velmora-cli with `args` until it ends (killed after `timeout_ms`).
  static CliRun Run(const QStringList& args, int timeout_ms = 60000);
  // Another program, in the environment given.
  static CliRun Run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                    int timeout_ms = 60000);
  // The same through `launcher`, e.g. TestLan::Wrap(0, {}) to run it on host 0 of a LAN.
  static CliRun RunThrough(const QStringList& launcher, const QStringList& args, int timeout_ms = 60000);

  // Starts the program through `launcher` from the next Start on, as SimProcess does.
  void SetLauncher(const QStringList& launcher) { launcher_ = launcher; }

  // Starts it and returns at once; Finish waits for the end.
  bool Start(const QStringList& args) { return Start(Program(), args); }
  bool Start(const QString& program, const QStringList& args);
  QProcess& Process() { return process_; }
  // Standard output so far (keeps it for Finish).
  QString OutputSoFar();
  // Standard error so far: progress lines go there (keeps it for Finish).
  QString ErrorsSoFar();
  CliRun Finish(int timeout_ms = 60000);

 private:
  QProcess process_;
  QStringList launcher_;
  QByteArray out_;
  QByteArray err_;
  qint64 started_ms_ = 0;
};

}  // namespace velmora::test
