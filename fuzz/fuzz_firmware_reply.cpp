// Any sequence of starts, device answers on either link, silences, stops and transport
// switches: every frame the transfer sends is well formed, goes out on the selected link
// only, and the data frames carry the file's bytes in order.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fota/firmware_transfer.h"
#include "protocol/command_frame.h"

#include "fuzz_check.h"

using namespace velmora;


namespace {

struct Files {
  QTemporaryDir dir;
  std::vector<QString> paths;
  std::vector<QByteArray> contents;
  Files() {
    for (int size : {0, 700, 1024, 2500}) {
      QByteArray bytes(size, 0);
      for (int k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 131 + size) & 0xFF);
      const QString path = dir.filePath(QString("fw%1.bin").arg(size));
      QFile f(path);
      f.open(QIODevice::WriteOnly);
      f.write(bytes);
      paths.push_back(path);
      contents.push_back(bytes);
    }
    paths.push_back(dir.filePath("missing.bin"));
    contents.emplace_back();
  }
};

struct Checker {
  Link link = Link::Udp;  // the link of the running transfer
  const QByteArray* file = nullptr;  // what the running transfer reads
  QByteArray image;                  // data bytes sent so far in this transfer, resends excluded
  std::vector<uint8_t> last;
  uint8_t next_sequence = 0;

  void NewTransfer() {
    image.clear();
    last.clear();
    next_sequence = 0;
  }

  void Sent(Link over, std::span<const uint8_t> f) {
    CHECK(over == link);
    CHECK(f.size() >= 8 && f[0] == 0xF5 && f[1] == 0x80 && f[2] == 0xE5 && f.back() == 0x0D);
    CHECK(f[f.size() - 2] == Checksum8(f.first(f.size() - 2)));
    const std::vector<uint8_t> bytes(f.begin(), f.end());
    const bool resend = bytes == last;
    last = bytes;
    const std::size_t n = (std::size_t{f[4]} << 8) | f[5];
    if (f.size() == 16 && f[3] == 0xFF && n == 8) {  // end frame: describes the whole file
      CHECK(file != nullptr);
      auto be32 = [&](std::size_t at) {
        return (uint32_t{f[at]} << 24) | (uint32_t{f[at + 1]} << 16) | (uint32_t{f[at + 2]} << 8) | f[at + 3];
      };
      uint32_t sum = 0;
      for (char c : *file) sum += static_cast<uint8_t>(c);
      CHECK(be32(6) == static_cast<uint32_t>(file->size()));
      CHECK(be32(10) == sum);
      const auto frames = static_cast<uint8_t>((file->size() + 1023) / 1024);
      if (next_sequence == frames) CHECK(image == *file);
      return;
    }
    CHECK(n >= 1 && n <= 1024 && f.size() == n + 8);
    CHECK(file != nullptr);
    if (resend) return;
    // Every frame reaches the wire over the link of the start: no sequence is skipped.
    CHECK(f[3] == next_sequence);
    next_sequence = static_cast<uint8_t>(f[3] + 1);
    image.append(reinterpret_cast<const char*>(f.data() + 6), static_cast<qsizetype>(n));
    CHECK(file->startsWith(image));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static Files files;
  Checker check;
  FirmwareTransfer t([&](std::span<const uint8_t> f) { check.Sent(Link::Serial, f); },
                     [&](std::span<const uint8_t> f) { check.Sent(Link::Udp, f); });
  Link next_link = Link::Udp;

  std::size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next();
    FotaOutcome out = FotaOutcome::kNone;
    switch (op % 8) {
      case 0: {
        const std::size_t k = next() % files.paths.size();
        check.file = &files.contents[k];
        check.NewTransfer();
        check.link = next_link;
        out = t.Start(files.paths[k], next_link);
        break;
      }
      case 1:
      case 2: {  // "OK", the common answer
        const std::vector<uint8_t> ok{0xF5, 0x00, 0xE5, 0x02, 'O', 'K', 0x00, 0x0D};
        out = t.HandleReply(ReplyFrame{op & 1 ? Link::Serial : Link::Udp, ok});
        break;
      }
      case 3: {  // any Reply frame the pump could deliver
        std::vector<uint8_t> f{0xF5, 0x00, static_cast<uint8_t>(next() | 1)};
        for (int k = next() % 12; k > 0; --k) f.push_back(next());
        f.push_back(0x0D);
        out = t.HandleReply(ReplyFrame{next() & 1 ? Link::Serial : Link::Udp, f});
        break;
      }
      case 4:
        for (int k = next() % 4 * 100 + next() % 100; k > 0; --k) t.Tick();
        break;
      case 5:
        out = t.Stop();
        break;
      case 6:
        next_link = next() & 1 ? Link::Serial : Link::Udp;
        break;
      case 7: {
        const std::size_t k = next() % files.paths.size();
        out = t.ChooseFile(files.paths[k]);
        break;
      }
    }
    (void)out;
    CHECK(t.ProgressPosition() >= 0);
    CHECK(t.LastFrame().size() <= FirmwareTransfer::kFrameCapacity);
    if (!t.IsOpen()) CHECK(!t.Awaiting() || t.LastFrame().size() == FirmwareTransfer::kEndFrameSize);
  }
  return 0;
}
