#include "cli/runner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>

#include <csignal>
#include <memory>

#include "cli/device_recorder.h"
#include "cli/exit_status.h"
#include "transport/udp_hub.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velmora::cli {

namespace {

#ifndef Q_OS_WIN
// Ctrl-C reaches the event loop through a pipe: a signal handler may only write a byte.
int g_interrupt_pipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
  const char one = 1;
  [[maybe_unused]] const auto n = ::write(g_interrupt_pipe[1], &one, 1);
}

class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> on_interrupt) {
    if (::pipe2(g_interrupt_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(g_interrupt_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [on_interrupt] {
      char drain[16];
      while (::read(g_interrupt_pipe[0], drain, sizeof drain) > 0) {
      }
      // A second Ctrl-C ends the program at once.
      std::signal(SIGINT, SIG_DFL);
      on_interrupt();
    });
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous_);
  }
  ~InterruptWatch() {
    if (!notifier_) return;
    sigaction(SIGINT, &previous_, nullptr);
    notifier_.reset();
    for (int& fd : g_interrupt_pipe) {
      ::close(fd);
      fd = -1;
    }
  }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction previous_ {};
};
#else
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()>) {}
};
#endif

struct Device {
  DeviceLink link;
  std::unique_ptr<DeviceSession> session;
  std::unique_ptr<DeviceJob> job;
  QElapsedTimer clock;
  bool finished = false;
  DeviceResult result;
  qint64 elapsed_ms = 0;
};

}  // namespace

int RunOnDevices(const Command& command, const std::vector<DeviceLink>& links, quint16 local_port, int timeout_ms,
                 Output& out, const RegisterOptions& registry) {
  const QString name = command.Name();
  DeviceRecorder recorder(registry);
  // The hub outlives the sessions that are registered with it.
  std::unique_ptr<UdpHub> hub;
  std::vector<Device> devices(links.size());
  std::size_t remaining = links.size();
  bool interrupted = false;
  QEventLoop loop;

  auto finish = [&](Device& d, DeviceResult r) {
    if (d.finished) return;
    d.finished = true;
    d.elapsed_ms = d.clock.elapsed();
    d.result = std::move(r);
    out.Result(d.session->Name(), name, d.result, d.elapsed_ms);
    recorder.Record(d.link, name, d.result);
    // The port is let go of as soon as its device is done.
    d.session->Close();
    if (--remaining == 0) loop.quit();
  };

  QString hub_error;
  bool hub_ok = true;
  for (const DeviceLink& l : links) {
    if (l.kind == Link::Udp && !hub) {
      hub = std::make_unique<UdpHub>(local_port);
      hub_ok = hub->Open(&hub_error);
    }
  }

  InterruptWatch watch([&] {
    interrupted = true;
    for (Device& d : devices) {
      if (d.finished || !d.job) continue;
      const QString where = d.job->Where(*d.session);
      finish(d, DeviceResult{kExitInterrupted, QStringLiteral("interrupted ") + where, {}, {}});
    }
    loop.quit();
  });

  for (std::size_t i = 0; i < links.size(); ++i) {
    Device& d = devices[i];
    d.link = links[i];
    d.clock.start();
    d.session = std::make_unique<DeviceSession>(links[i], hub.get(), timeout_ms);
    QString error;
    if (links[i].kind == Link::Udp && !hub_ok) {
      finish(d, DeviceResult{kExitLinkFailed, hub_error, {}, {}});
      continue;
    }
    if (!d.session->Open(&error)) {
      finish(d, DeviceResult{kExitLinkFailed, error, {}, {}});
      continue;
    }
    d.job = command.MakeJob(out);
    const QString device_name = d.session->Name();
    d.job->Start(
        *d.session, [&out, device_name](uint64_t sent, uint64_t total) { out.Progress(device_name, sent, total); },
        [&finish, &d](DeviceResult r) { finish(d, std::move(r)); });
  }
  if (remaining > 0) loop.exec();

  // Jobs are ended before their sessions: a job may still hold a session's handler.
  for (Device& d : devices) d.session->Close();

  if (devices.size() > 1) {
    std::vector<std::pair<QString, std::pair<DeviceResult, qint64>>> rows;
    for (const Device& d : devices) rows.push_back({d.session->Name(), {d.result, d.elapsed_ms}});
    out.Summary(name, rows);
  }
  int status = kExitDone;
  for (const Device& d : devices) status = std::max(status, d.result.status);
  return recorder.Finish(out, interrupted ? kExitInterrupted : status);
}

}  // namespace velmora::cli
