// velmora-sim: a stand-in for the device, for trying the tool without hardware and for
// end-to-end tests.

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "sim_app.h"
#include "sim_options.h"

namespace {

int g_signal_fd = -1;

void OnSignal(int) {
  const char c = 1;
  // Nothing else is safe here; the event loop picks the byte up.
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fd, &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const auto parsed = velmora::sim::ParseSimOptions(app.arguments());
  if (parsed.help) {
    std::fputs(velmora::sim::SimHelpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "velmora-sim: %s\n(--help lists the options)\n", parsed.error.toLocal8Bit().constData());
    return 2;
  }

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    std::perror("velmora-sim: socketpair");
    return 1;
  }
  g_signal_fd = fds[0];
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  QSocketNotifier stop(fds[1], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

  velmora::sim::SimApp sim(*parsed.options, stdout);
  QString error;
  if (!sim.Start(&error)) {
    sim.Stop();
    std::fprintf(stderr, "velmora-sim: %s\n", error.toLocal8Bit().constData());
    return 2;
  }
  app.exec();
  sim.Stop();
  sim.PrintCounts();
  return 0;
}
