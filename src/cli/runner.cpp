#include "cli/runner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <limits>
#include <memory>

#include "cli/exit_status.h"
#include "transport/udp_hub.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velmora::cli {

#ifndef Q_OS_WIN
namespace {
// Ctrl-C reaches the event loop through a pipe: a signal handler may only write a byte.
int g_interrupt_pipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
  const char one = 1;
  [[maybe_unused]] const auto n = ::write(g_interrupt_pipe[1], &one, 1);
}
}  // namespace

// Turns Ctrl-C into a call of whatever handler is set when it comes.
class InterruptWatch {
 public:
  InterruptWatch() {
    if (::pipe2(g_interrupt_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(g_interrupt_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
      char drain[16];
      while (::read(g_interrupt_pipe[0], drain, sizeof drain) > 0) {
      }
      // A second Ctrl-C ends the program at once.
      std::signal(SIGINT, SIG_DFL);
      interrupted_ = true;
      if (handler_) handler_();
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
  void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }
  bool Interrupted() const { return interrupted_; }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction previous_ {};
  std::function<void()> handler_;
  bool interrupted_ = false;
};
#else
class InterruptWatch {
 public:
  void SetHandler(std::function<void()>) {}
  bool Interrupted() const { return false; }
};
#endif

namespace {

struct Device {
  const Unit* unit = nullptr;
  std::unique_ptr<DeviceSession> session;
  std::unique_ptr<DeviceJob> job;
  QDateTime started;
  QElapsedTimer clock;  // fallback when nothing was ever sent
  bool finished = false;
  DeviceResult result;
  qint64 elapsed_ms = 0;
};

QString DeviceAddress(const DeviceLink& l) {
  if (l.kind != Link::Udp) return {};
  return QStringLiteral("%1:%2").arg(l.address.toString()).arg(l.device_port);
}

}  // namespace

Fleet::Fleet(const RunSettings& settings, Output& out)
    : settings_(settings), out_(out), interrupts_(std::make_unique<InterruptWatch>()) {
  since_start_.start();
}

Fleet::~Fleet() = default;

qint64 Fleet::Left() const {
  if (settings_.deadline_ms <= 0) return std::numeric_limits<int>::max();
  return std::max<qint64>(0, settings_.deadline_ms - since_start_.elapsed());
}

bool Fleet::OpenHub(QString* error) {
  if (!hub_tried_) {
    hub_tried_ = true;
    hub_ = std::make_unique<UdpHub>(settings_.local_port);
    if (!hub_->Open(&hub_error_)) hub_.reset();
  }
  if (!hub_ && error) *error = hub_error_;
  return hub_ != nullptr;
}

int Fleet::Search(const DeviceLink& target, int wait_ms, std::vector<FoundDevice>* found, QString* error) {
  if (!OpenHub(error)) return kExitLinkFailed;
  DeviceSearch search;
  hub_->SetStrangerHandler([&search](const PeerAddress& from, std::span<const uint8_t> d) { return search.Offer(from, d); });
  const quint32 to = target.address.toIPv4Address();
  for (const auto& frame : DeviceSearch::QueryFrames()) {
    if (const int e = hub_->SendTo(to, target.device_port, frame.data(), frame.size()); e != 0) {
      hub_->SetStrangerHandler({});
      *error = QStringLiteral("the search could not be sent to %1: %2").arg(target.address.toString(), QString::fromLocal8Bit(std::strerror(e)));
      return kExitLinkFailed;
    }
  }
  QEventLoop loop;
  int status = kExitDone;
  const bool deadline_first = Left() < wait_ms;
  QTimer::singleShot(static_cast<int>(std::min<qint64>(wait_ms, Left())), &loop, [&] {
    if (deadline_first) {
      status = kExitNoAnswer;
      *error = QStringLiteral("the deadline of %1 s was reached during the search").arg(settings_.deadline_ms / 1000.0);
    }
    loop.quit();
  });
  interrupts_->SetHandler([&] {
    status = kExitInterrupted;
    *error = QStringLiteral("interrupted during the search");
    loop.quit();
  });
  loop.exec();
  interrupts_->SetHandler({});
  hub_->SetStrangerHandler({});
  *found = search.Devices();
  return status;
}

int Fleet::Run(const Command& command, const std::vector<Unit>& units, ReportWriter* report) {
  const QString name = command.Name();
  std::vector<Device> devices(units.size());
  std::size_t remaining = units.size();
  bool interrupted = false;
  QEventLoop loop;

  auto finish = [&](Device& d, DeviceResult r) {
    if (d.finished) return;
    d.finished = true;
    const int sent = d.session ? d.session->FramesSent() : 0;
    // Each device's time counts from its own first frame.
    d.elapsed_ms = sent > 0 ? d.session->SinceFirstFrame() : d.clock.elapsed();
    // "Bad input" promises that nothing was sent; a file that fails after the device
    // was contacted is a failed job on that device.
    if (r.status == kExitBadInput && sent > 0) r.status = kExitNoAnswer;
    d.result = std::move(r);
    const QString device = d.session ? d.session->Name() : d.unit->link.Name();
    out_.Result(device, name, d.result, d.elapsed_ms);
    ReportRow row{d.started, name, device, DeviceAddress(d.unit->link), d.result.facts, d.result.status,
                  d.result.status == kExitDone ? QString() : d.result.text, static_cast<double>(d.elapsed_ms) / 1000.0};
    if (report) {
      QString error;
      if (!report->Write(row, &error)) out_.Notice(error);
    }
    if (unit_done_) unit_done_(d.unit->link, row);
    // The port is let go of as soon as its device is done.
    if (d.session) d.session->Close();
    if (--remaining == 0) loop.quit();
  };

  auto stop_all = [&](const QString& why, int status) {
    for (Device& d : devices) {
      if (d.finished) continue;
      const QString where = d.job ? d.job->Where(*d.session) : QStringLiteral("before its link was open");
      finish(d, DeviceResult{status, why + QLatin1Char(' ') + where, {}, {}, {}});
    }
    loop.quit();
  };

  interrupts_->SetHandler([&] {
    interrupted = true;
    stop_all(QStringLiteral("interrupted"), kExitInterrupted);
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
    stop_all(QStringLiteral("deadline of %1 s reached").arg(settings_.deadline_ms / 1000.0), kExitNoAnswer);
  });
  if (settings_.deadline_ms > 0) deadline.start(static_cast<int>(Left()));

  bool needs_hub = false;
  for (const Unit& u : units) needs_hub = needs_hub || u.link.kind == Link::Udp;
  QString hub_error;
  const bool hub_ok = !needs_hub || OpenHub(&hub_error);

  for (std::size_t i = 0; i < units.size(); ++i) devices[i].unit = &units[i];
  // Every link is opened before any device is asked anything: an open that takes its
  // time must not eat into another device's wait for its answer.
  for (std::size_t i = 0; i < units.size(); ++i) {
    Device& d = devices[i];
    d.started = QDateTime::currentDateTime();
    d.clock.start();
    d.session = std::make_unique<DeviceSession>(units[i].link, hub_.get(), settings_.timeout_ms);
    QString error;
    if (units[i].link.kind == Link::Udp && !hub_ok) {
      finish(d, DeviceResult{kExitLinkFailed, hub_error, {}, {}, {}});
    } else if (!d.session->Open(&error)) {
      finish(d, DeviceResult{kExitLinkFailed, error, {}, {}, {}});
    }
    QCoreApplication::processEvents();  // a Ctrl-C while many ports open
    if (interrupted) break;
  }
  for (Device& d : devices) {
    if (d.finished || interrupted) continue;
    d.started = QDateTime::currentDateTime();
    d.clock.start();
    d.job = command.MakeJob(out_, *d.unit);
    const QString device_name = d.session->Name();
    d.job->Start(
        *d.session, [this, device_name](uint64_t sent, uint64_t total) { out_.Progress(device_name, sent, total); },
        [&finish, &d](DeviceResult r) { finish(d, std::move(r)); });
  }
  if (remaining > 0 && !interrupted) loop.exec();
  interrupts_->SetHandler({});
  deadline.stop();

  // Jobs are ended before their sessions: a job may still hold a session's handler.
  for (Device& d : devices) {
    if (d.session) d.session->Close();
  }

  if (devices.size() > 1) {
    std::vector<std::pair<QString, std::pair<DeviceResult, qint64>>> rows;
    for (const Device& d : devices) {
      rows.push_back({d.session ? d.session->Name() : d.unit->link.Name(), {d.result, d.elapsed_ms}});
    }
    out_.Summary(name, rows);
  }
  if (interrupted || interrupts_->Interrupted()) return kExitInterrupted;
  int status = kExitDone;
  for (const Device& d : devices) status = std::max(status, d.result.status);
  return status;
}

}  // namespace velmora::cli
