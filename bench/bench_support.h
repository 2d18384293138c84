#pragma once
// What the benchmark programs share: a main that runs Google Benchmark inside a Qt
// application (offscreen unless told otherwise), and message boxes answered without a window.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>

#include "core/modal_ui.h"

namespace velmora::bench {

// The file dialog answers `file`; a message box is remembered and ends `loop`, if any.
class BenchModalUi : public IModalUi {
 public:
  MessageAnswer ShowMessage(const QString& text, MessageButtons) override {
    last = text;
    if (loop) loop->quit();
    return MessageAnswer::Ok;
  }
  QString GetOpenFileName(const QString&) override { return file; }
  QString GetSaveFileName(const QString&, const QString&) override { return {}; }
  QString file;
  QString last;
  QEventLoop* loop = nullptr;
};

// `before_app` runs before the application is created (e.g. to set process options).
inline int RunQtBenchmarks(int argc, char** argv, void (*before_app)() = nullptr) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (before_app) before_app();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace velmora::bench
