// The program's objects go away in order at exit: no serial reader thread is left
// running once they are gone, with the port busy and an upload under way.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

#include <unistd.h>

#include "app/application.h"
#include "app/main_window.h"
#include "fota/ui/firmware_dialog.h"
#include "support/frames.h"
#include "support/pty_pair.h"

namespace velmora {
namespace {

int ThreadCount() { return static_cast<int>(QDir(QStringLiteral("/proc/self/task")).count()) - 2; }

TEST(ProgramExit, NoReaderOutlivesTheProgramObjectsWithTheLineBusyAndAnUploadRunning) {
  QTemporaryDir dir;
  const QString image = dir.filePath("fw.bin");
  ASSERT_TRUE(test::WriteBytes(image, test::TestImage(64 * 1024)));
  // Qt starts some threads of its own on first use; count after they exist.
  { Application warm_up; }
  const int before = ThreadCount();

  for (bool upload : {false, true}) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto program = std::make_unique<Application>();
    ASSERT_TRUE(program->Services().serial.Open(pty.SlavePath(), 115200, 0));
    // The device never stops talking, and never reads: the reader is busy taking bytes and
    // the line out of the tool does not move.
    pty.StopOutput();
    std::atomic<bool> talking{true};
    std::thread device([&] {
      const std::vector<uint8_t> chatter(4096, 0x55);
      while (talking) (void)::write(pty.MasterFd(), chatter.data(), chatter.size());
    });
    if (upload) {
      MainWindow& w = program->Window();
      w.OpenFirmwareDialog(Link::Serial);
      FirmwareDialog* dlg = w.Firmware();
      ASSERT_NE(dlg, nullptr);
      qobject_cast<QLineEdit*>(FindControl(dlg, 1007))->setText(image);
      qobject_cast<QPushButton*>(FindControl(dlg, 1019))->click();
      ASSERT_TRUE(dlg->Transfer().Awaiting());
    }
    QElapsedTimer took;
    took.start();
    program.reset();
    const int after = ThreadCount();
    talking = false;
    device.join();
    EXPECT_LT(took.elapsed(), 10000) << "exit hung";
    EXPECT_EQ(after, before + 1) << "only the test's device thread may be left, "
                                 << (upload ? "with an upload running" : "with the port open");
  }
}

}  // namespace
}  // namespace velmora
