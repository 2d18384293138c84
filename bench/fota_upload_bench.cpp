// Wall time of a 1 MiB firmware upload the way the tool does it: a configuration page's
// FOTA button, the upgrade dialog with its transfer engine, the real UDP endpoint or serial
// port, the receive pump on its own timer and the page handing the answers on, against
// a device on loopback that answers at once.
//
// Stop-and-wait pays the pump's closing rule once per chunk: three quiet milliseconds over
// UDP, five over serial. 1024 data frames and the end frame give the floors printed
// (about 3.1 s and 5.1 s per MiB); the figure to watch is the ratio to them.
//
// Each run also splits the median chunk into the pump's share (device answer sent until
// the reply reaches the page handler: the closing rule plus timer latency) and the tool's
// share (reply handed on until the next frame is at the device: dialog, engine, file read,
// send). Means suffer from other load on the machine; medians much less. Five runs each,
// then the smallest, middle and largest ratio to the floor.
//
//   cmake --preset release && cmake --build --preset release --target fota_upload_bench
//   ./build/release/bench/fota_upload_bench

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/app_services.h"
#include "widgets/dialog_builder.h"
#include "app/application.h"
#include "app/main_window.h"
#include "fota/ui/firmware_dialog.h"
#include "protocol/command_frame.h"
#include "protocol/receive_pump.h"
#include "bench_support.h"
#include "support/fake_modal_ui.h"
#include "support/frames.h"
#include "support/pty_pair.h"
#include "support/udp_test_port.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
using Stamps = std::vector<Clock::time_point>;

constexpr std::size_t kImageSize = std::size_t{1} << 20;
constexpr int kRoundTrips = 1024 + 1;  // data frames and the end frame

// Counts the image in and answers "OK" to every data frame, "YES" to the end frame, and
// notes when each frame was complete and when its answer had gone.
struct DeviceScript {
  std::size_t received = 0;
  Stamps frame_at;
  Stamps answered_at;
  const std::vector<uint8_t> ok = test::FirmwareReply("OK");
  const std::vector<uint8_t> yes = test::FirmwareReply("YES");
  const std::vector<uint8_t>& Judge(std::size_t frame_size) {
    frame_at.push_back(Clock::now());
    if (received >= kImageSize) return yes;
    received += frame_size - 8;
    return ok;
  }
  void Answered() { answered_at.push_back(Clock::now()); }
};

// Notes when each firmware reply of one link was closed, before the dialog has it.
class StampingHandler {
 public:
  StampingHandler(ReceivePump& pump, Link link) {
    pump.WatchBursts([this, link](const ClosedBurst& b) {
      if (b.is_reply && b.link == link && KindOfReply(b.bytes[2]) == ReplyKind::Firmware) delivered_at.push_back(Clock::now());
    });
  }
  Stamps delivered_at;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Split {
  double cycle_median, cycle_p90, pump_median, tool_median, pump_p90, tool_p90;
};

// Chunk k: frame k complete at the device, its answer gone, the reply delivered in the
// tool, frame k+1 complete at the device.
Split SplitChunks(const DeviceScript& d, const Stamps& delivered) {
  std::vector<double> cycle, pump, tool;
  const std::size_t n = std::min({d.frame_at.size(), d.answered_at.size(), delivered.size()});
  for (std::size_t k = 0; k + 1 < n; ++k) {
    cycle.push_back(Ms(d.frame_at[k + 1] - d.frame_at[k]));
    pump.push_back(Ms(delivered[k] - d.answered_at[k]));
    tool.push_back(Ms(d.frame_at[k + 1] - delivered[k]));
  }
  return {bench::Percentile(cycle, 0.5), bench::Percentile(cycle, 0.9), bench::Percentile(pump, 0.5),
          bench::Percentile(tool, 0.5),  bench::Percentile(pump, 0.9),  bench::Percentile(tool, 0.9)};
}

// A device on its own thread, as a real one would be: it never waits on the tool's loop.
class UdpDevice {
 public:
  explicit UdpDevice(quint16 port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok_) thread_ = std::thread([this] { Run(); });
  }
  ~UdpDevice() {
    Join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool Ok() const { return ok_; }
  // Ends the device; its script may be read afterwards.
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const DeviceScript& Script() const { return script_; }

 private:
  void Run() {
    DeviceScript& script = script_;
    std::vector<uint8_t> buf(2048);
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 8) continue;
      const auto& answer = script.Judge(static_cast<std::size_t>(n));
      ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      script.Answered();
    }
  }

  DeviceScript script_;
  int fd_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The device on the master side of the tests' pseudo-terminal pair, on its own thread.
class PtyDevice {
 public:
  PtyDevice() {
    if (pty_.Ok()) thread_ = std::thread([this] { Run(); });
  }
  ~PtyDevice() { Join(); }
  bool Ok() const { return pty_.Ok(); }
  QString Path() const { return pty_.SlavePath(); }
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const DeviceScript& Script() const { return script_; }

 private:
  void Run() {
    DeviceScript& script = script_;
    std::vector<uint8_t> pending;
    uint8_t buf[4096];
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
      if (n <= 0) continue;
      pending.insert(pending.end(), buf, buf + n);
      while (pending.size() >= 6) {
        const std::size_t size = ((std::size_t{pending[4]} << 8) | pending[5]) + 8;
        if (pending.size() < size) break;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(size));
        const auto& answer = script.Judge(size);
        if (!pty_.WriteMaster(answer)) return;
        script.Answered();
      }
    }
  }

  DeviceScript script_;
  test::PtyPair pty_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

QString WriteImage(const QTemporaryDir& dir) {
  const QString path = dir.filePath("firmware.bin");
  return test::WriteBytes(path, test::TestImage(kImageSize)) ? path : QString();
}

enum class Over { Udp, Serial };

void Upload(benchmark::State& state, Over over) {
  QTemporaryDir dir;
  const QString image = WriteImage(dir);
  const int close_ticks = over == Over::Udp ? ReceivePump::kUdpCloseTicks : ReceivePump::kSerialCloseTicks;
  const double floor_s = kRoundTrips * close_ticks / 1000.0;
  double total_s = 0;
  double total_ticks = 0;
  std::vector<double> ratios, p90_ratios, wakeups_per_chunk;

  for (auto _ : state) {
    ReceiveState rx;
    test::FakeModalUi modal;
    modal.file_answers.push_back(image);
    SerialPort serial(rx);
    const quint16 local_port = test::FreeUdpPort();
    const quint16 device_port = test::FreeUdpPort();
    UdpEndpoint udp(rx, modal, local_port, device_port);
    AppServices services{rx, modal, serial, udp};
    MainWindow window(services);
    window.show();
    const int page = over == Over::Udp ? MainWindow::kNetworkPage : MainWindow::kSerialPage;
    StampingHandler forward(window.Pump(), over == Over::Udp ? Link::Udp : Link::Serial);

    std::unique_ptr<UdpDevice> udp_device;
    std::unique_ptr<PtyDevice> pty_device;
    if (over == Over::Udp) {
      udp_device = std::make_unique<UdpDevice>(device_port);
      if (!udp_device->Ok() || !udp.OpenEndpoint(QStringLiteral("127.0.0.1"))) {
        state.SkipWithError("no UDP on loopback");
        return;
      }
    } else {
      pty_device = std::make_unique<PtyDevice>();
      if (!pty_device->Ok() || !serial.Open(pty_device->Path(), 115200, 0)) {
        state.SkipWithError("no pseudo-terminal");
        return;
      }
    }
    window.ShowPage(page);
    auto* fota = qobject_cast<QPushButton*>(FindControl(window.Page(page), 1037));  // the page's FOTA button
    if (!fota) {
      state.SkipWithError("the page has no FOTA button");
      return;
    }
    fota->click();
    FirmwareDialog* dlg = window.Firmware();
    qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
    QApplication::processEvents();

    QEventLoop loop;
    modal.while_shown = [&loop] { loop.quit(); };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    const std::uint64_t ticks0 = window.Driver().TickCount();
    const std::uint64_t wakeups0 = window.Driver().WakeupCount();
    QElapsedTimer clock;
    clock.start();
    qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
    if (modal.messages.isEmpty()) loop.exec();
    const double s = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const auto ticks = static_cast<double>(window.Driver().TickCount() - ticks0);
    const auto wakeups = static_cast<double>(window.Driver().WakeupCount() - wakeups0);
    state.SetIterationTime(s);
    modal.while_shown = nullptr;
    serial.Close();
    const QString said = modal.messages.isEmpty() ? QString() : modal.messages.last();
    if (said != QString::fromUtf8("升级成功，等待从新启动")) {
      std::printf("ended with \"%s\" after %.3f s at chunk %d, %llu pump ticks\n", said.toUtf8().constData(), s,
                  dlg->Transfer().ProgressPosition(), static_cast<unsigned long long>(ticks));
      state.SkipWithError("the upload did not end with the device's acceptance");
      return;
    }
    total_s += s;
    total_ticks += ticks;
    const DeviceScript* script = nullptr;
    if (udp_device) {
      udp_device->Join();
      script = &udp_device->Script();
    } else {
      pty_device->Join();
      script = &pty_device->Script();
    }
    const Split split = SplitChunks(*script, forward.delivered_at);
    ratios.push_back(s / floor_s);
    p90_ratios.push_back(split.cycle_p90 / close_ticks);
    wakeups_per_chunk.push_back(wakeups / kRoundTrips);
    std::printf("%s 1 MiB: %.3f s, %.3f ms per chunk, %.2f pump ticks per chunk, floor %.3f s, ratio %.2fx\n"
                "       chunk median %.3f ms (ratio %.2fx), p90 %.3f ms; pump share median %.3f / p90 %.3f ms, "
                "tool share median %.3f / p90 %.3f ms\n",
                over == Over::Udp ? "UDP   " : "serial", s, s * 1000.0 / kRoundTrips, ticks / kRoundTrips, floor_s,
                s / floor_s, split.cycle_median, split.cycle_median / close_ticks, split.cycle_p90, split.pump_median,
                split.pump_p90, split.tool_median, split.tool_p90);
  }
  const char* link = over == Over::Udp ? "UDP    1 MiB" : "serial 1 MiB";
  char beside[160];
  std::snprintf(beside, sizeof beside, "(floor %.3f s: %d quiet ms per chunk; goal: median <= 1.05x)", floor_s, close_ticks);
  bench::PrintSpread((std::string(link) + ", time / floor").c_str(), ratios, 3, "x", beside);
  std::snprintf(beside, sizeof beside, "(floor %d ms, the quiet gap; goal <= 1.10x)", close_ticks);
  bench::PrintSpread((std::string(link) + ", p90 chunk / floor").c_str(), p90_ratios, 3, "x", beside);
  bench::PrintSpread((std::string(link) + ", pump timer wake-ups per chunk").c_str(), wakeups_per_chunk, 2, "", "");
  const auto runs = static_cast<double>(state.iterations());
  state.counters["ms_per_chunk"] = total_s * 1000.0 / kRoundTrips / runs;
  state.counters["ticks_per_chunk"] = total_ticks / kRoundTrips / runs;
  state.counters["floor_s"] = floor_s;
  state.counters["ratio_to_floor"] = total_s / runs / floor_s;
}

void BM_UploadOneMebibyteOverUdp(benchmark::State& state) { Upload(state, Over::Udp); }
void BM_UploadOneMebibyteOverSerialPty(benchmark::State& state) { Upload(state, Over::Serial); }
BENCHMARK(BM_UploadOneMebibyteOverUdp)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadOneMebibyteOverSerialPty)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  // Timers as the tool sets them at start-up.
  return velmora::bench::RunQtBenchmarks(argc, argv, velmora::TightenTimerSlack);
}
