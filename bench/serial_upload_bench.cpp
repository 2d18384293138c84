// A 256 KiB firmware upload over a modelled 115200-baud serial line: the tool's own road
// (the serial page's FOTA button, the upgrade dialog and its engine, the receive pump on
// its timer, the serial port with its reader thread) to velmora-sim --baud 115200 on
// its pseudo-terminal. The simulator lets each frame arrive at the line rate and sends
// its answers at that rate, so the figure is what a real line of that speed would give.
//
// Printed: the payload rate as a share of the line rate (10 bits a byte: 11,520 B/s), and
// where a chunk's time goes, from the simulator's log: the frame on the line, the answer
// on the line, and the rest, the turn-around in the tool (the pump closing the answer
// after five quiet milliseconds, the dialog acting on it, the next frame written).
// Five runs (about 25 s each), then the smallest, middle and largest share beside the limit.
//
//   cmake --preset release && cmake --build --preset release --target serial_upload_bench
//   ./build/release/bench/serial_upload_bench

#include "app/application.h"
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/app_services.h"
#include "widgets/dialog_builder.h"
#include "app/main_window.h"
#include "fota/ui/firmware_dialog.h"
#include "protocol/receive_pump.h"
#include "bench_support.h"
#include "support/fake_modal_ui.h"
#include "support/frames.h"
#include "support/sim_process.h"
#include "support/udp_test_port.h"

namespace velmora {
namespace {

constexpr int kBaud = 115200;
constexpr double kLineBytesPerSecond = kBaud / 10.0;  // start, 8 data bits, stop
constexpr qint64 kImageSize = 256 * 1024;
constexpr int kChunks = static_cast<int>(kImageSize / 1024);
constexpr int kDataFrameBytes = 1024 + 8;
constexpr int kAnswerBytes = 8;  // F5 00 E5 02 "OK" sum 0D

double LineMs(int bytes) { return bytes * 1000.0 / kLineBytesPerSecond; }

using Clock = std::chrono::steady_clock;

// How long after the answer's last byte was stored each serial reply was closed (the
// quiet gap and the tool's own lateness in closing it).
class ClosingTimes {
 public:
  ClosingTimes(const ReceiveState& rx, ReceivePump& pump) : rx_(rx) {
    pump.WatchBursts([this](const ClosedBurst& b) {
      if (b.is_reply && b.link == Link::Serial) {
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - rx_.LastSerialByte()).count());
      }
    });
  }
  std::vector<double> ms;

 private:
  const ReceiveState& rx_;
};

// The tool's turn-around per chunk: from an "OK" starting to leave the device until the
// next frame's first byte would have reached it, less the answer's own time on the line.
std::vector<double> TurnAroundsMs(const QStringList& log) {
  static const QRegularExpression rx_re(QStringLiteral("^\\s*([0-9.]+) serial rx E5 seq \\d+ len (\\d+):"));
  static const QRegularExpression ok_re(QStringLiteral("^\\s*([0-9.]+) serial tx E5 OK"));
  std::vector<double> out;
  double ok_at = -1;
  for (const QString& l : log) {
    if (const auto m = ok_re.match(l); m.hasMatch()) {
      ok_at = m.captured(1).toDouble();
    } else if (const auto r = rx_re.match(l); r.hasMatch() && ok_at >= 0) {
      // The frame is logged when its last byte would have arrived.
      const int frame_bytes = r.captured(2).toInt() + 8;
      const double first_byte_ms = r.captured(1).toDouble() * 1000.0 - LineMs(frame_bytes);
      out.push_back(first_byte_ms - ok_at * 1000.0 - LineMs(kAnswerBytes));
      ok_at = -1;
    }
  }
  return out;
}

void BM_Upload256KiBAt115200Baud(benchmark::State& state) {
  QTemporaryDir dir;
  const QString image_path = dir.filePath("firmware.bin");
  const QString received_path = dir.filePath("received.bin");
  const test::Bytes image = test::TestImage(static_cast<std::size_t>(kImageSize));
  if (!test::WriteBytes(image_path, image)) {
    state.SkipWithError("cannot write the image");
    return;
  }
  double total_s = 0;
  std::vector<double> shares;

  for (auto _ : state) {
    QFile::remove(received_path);
    test::SimProcess sim;
    if (!sim.Start({"--baud", QString::number(kBaud), "--no-udp", "--image-out", received_path})) {
      state.SkipWithError(qPrintable(sim.StartError()));
      return;
    }
    ReceiveState rx;
    test::FakeModalUi modal;
    modal.file_answers.push_back(image_path);
    SerialPort serial(rx);
    UdpEndpoint udp(rx, modal, test::FreeUdpPort(), test::FreeUdpPort());
    AppServices services{rx, modal, serial, udp};
    MainWindow window(services);
    window.show();
    if (!serial.Open(sim.SerialPath(), kBaud, 0)) {
      state.SkipWithError("cannot open the simulator's terminal");
      return;
    }
    ClosingTimes closing(rx, window.Pump());
    window.ShowPage(MainWindow::kSerialPage);
    qobject_cast<QPushButton*>(FindControl(window.Page(MainWindow::kSerialPage), 1037))->click();
    FirmwareDialog* dlg = window.Firmware();
    qobject_cast<QPushButton*>(FindControl(dlg, 1003))->click();
    QApplication::processEvents();

    QEventLoop loop;
    modal.while_shown = [&loop] { loop.quit(); };
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
    if (modal.messages.isEmpty()) loop.exec();
    const double s = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    modal.while_shown = nullptr;
    state.SetIterationTime(s);
    serial.Close();
    sim.Stop();
    const QStringList log = sim.Lines();

    const bool intact = test::ReadBytes(received_path) == image;
    const QString said = modal.messages.isEmpty() ? QString() : modal.messages.last();
    if (said != QString::fromUtf8("升级成功，等待从新启动") || !intact) {
      std::printf("ended with \"%s\" after %.3f s at chunk %d; image %s\n", said.toUtf8().constData(), s,
                  dlg->Transfer().ProgressPosition(), intact ? "intact" : "missing or different");
      state.SkipWithError("the upload did not end with the device's acceptance of the whole image");
      return;
    }
    total_s += s;

    const double rate = kImageSize / s;
    // What the line itself takes: every data frame and its answer, the end frame and its.
    const double line_ms = kChunks * LineMs(kDataFrameBytes + kAnswerBytes) + LineMs(16 + 9);
    const double turn_mean_ms = (s * 1000.0 - line_ms) / (kChunks + 1);
    const std::vector<double> turn = TurnAroundsMs(log);
    // Stop-and-wait with no turn-around at all: frame and answer back to back.
    const double ceiling = 1024.0 / (kDataFrameBytes + kAnswerBytes);
    shares.push_back(100.0 * rate / kLineBytesPerSecond);
    std::printf(
        "256 KiB at %d baud over a pseudo-terminal: %.3f s, %.0f B/s = %.1f %% of the line rate (%.0f B/s)\n"
        "  per chunk: data frame on the line %.2f ms, answer %.2f ms, turn-around in the tool %.2f ms on average\n"
        "  turn-around per chunk from the simulator's log (1 ms steps): median %.1f ms, p90 %.1f ms, max %.1f ms\n"
        "  stop-and-wait ceiling with no turn-around: %.1f %%\n"
        "  in the tool, answer's last byte stored until the reply reached the page: median %.3f ms, p90 %.3f ms "
        "(the quiet gap is %d ms); the rest of the turn-around is the simulator's and the next frame's\n",
        kBaud, s, rate, 100.0 * rate / kLineBytesPerSecond, kLineBytesPerSecond, LineMs(kDataFrameBytes),
        LineMs(kAnswerBytes), turn_mean_ms, bench::Percentile(turn, 0.5), bench::Percentile(turn, 0.9),
        bench::Percentile(turn, 1.0), 100.0 * ceiling, bench::Percentile(closing.ms, 0.5),
        bench::Percentile(closing.ms, 0.9), ReceivePump::kSerialCloseTicks);
    std::fflush(stdout);
  }
  // The floor: each chunk's frame and answer on the line, then the quiet gap that closes
  // the answer, with nothing of the tool's own.
  const double gap_ms = ReceivePump::kSerialCloseTicks;
  const double floor_ms = kChunks * (LineMs(kDataFrameBytes + kAnswerBytes) + gap_ms) + LineMs(16 + 9) + gap_ms;
  const double limit_pct = 100.0 * kImageSize / (floor_ms / 1000.0) / kLineBytesPerSecond;
  char beside[200];
  std::snprintf(beside, sizeof beside,
                "(limit %.2f %%: frame and answer on the line plus the %.0f ms quiet gap per chunk; %.2f %% without "
                "the answer's own %.2f ms)",
                limit_pct, gap_ms, 100.0 * 1024.0 / (LineMs(kDataFrameBytes) + gap_ms) * 1000.0 / kLineBytesPerSecond,
                LineMs(kAnswerBytes));
  bench::PrintSpread("256 KiB at 115200 baud, share of the line rate", shares, 2, "%", beside);
  const double mean_s = total_s / static_cast<double>(state.iterations());
  state.counters["bytes_per_s"] = kImageSize / mean_s;
  state.counters["share_of_line_pct"] = 100.0 * kImageSize / mean_s / kLineBytesPerSecond;
}
BENCHMARK(BM_Upload256KiBAt115200Baud)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  // Timers as the tool sets them at start-up.
  return velmora::bench::RunQtBenchmarks(argc, argv, velmora::TightenTimerSlack);
}
