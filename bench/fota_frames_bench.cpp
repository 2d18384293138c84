// The transfer engine's own cost per chunk, with a device that answers "OK" at once.
// Stop-and-wait over UDP costs about 3 ms per chunk on the wire; this should be far below.

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdint>
#include <vector>

#include "fota/firmware_transfer.h"
#include "protocol/command_frame.h"
#include "support/frames.h"

namespace velmora {
namespace {

constexpr qint64 kImageSize = qint64{1} << 20;

void BM_TransferOneMebibyte(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = dir.filePath("image.bin");
  if (!test::WriteBytes(path, test::TestImage(static_cast<std::size_t>(kImageSize)))) {
    state.SkipWithError("cannot write the image");
    return;
  }

  std::size_t frames = 0;
  std::size_t wire_bytes = 0;
  FirmwareTransfer engine({}, [&](std::span<const uint8_t> frame) {
    benchmark::DoNotOptimize(frame.data());
    ++frames;
    wire_bytes += frame.size();
  });
  const auto ok = test::FirmwareReply("OK");
  const auto yes = test::FirmwareReply("YES");
  const ReplyFrame ok_frame{Link::Udp, ok};
  const ReplyFrame yes_frame{Link::Udp, yes};

  for (auto _ : state) {
    if (engine.Start(path, Link::Udp) != FotaOutcome::kStarted) {
      state.SkipWithError("the transfer did not start");
      return;
    }
    while (engine.HandleReply(ok_frame) == FotaOutcome::kDataFrameSent) {
    }
    if (engine.HandleReply(yes_frame) != FotaOutcome::kAccepted) {
      state.SkipWithError("the transfer did not end");
      return;
    }
  }
  const auto chunks = static_cast<double>(kImageSize / 1024);
  state.SetBytesProcessed(state.iterations() * kImageSize);
  state.counters["frames_per_run"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
  state.counters["wire_bytes_per_run"] = static_cast<double>(wire_bytes) / static_cast<double>(state.iterations());
  state.counters["s_per_chunk"] =
      benchmark::Counter(chunks, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TransferOneMebibyte)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
