#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace velmora {

// The session log: one file per run, each entry written and handed to the system as it is
// logged, so a crash of the program loses nothing that the Log pane showed. The Log shows
// MQTT credentials as they are written and read, so the file is its owner's alone.
class SessionLog {
 public:
  // velmora-YYYYMMDD-HHMMSS.log in the user's application data folder, named when the
  // object is made; opened by Start.
  SessionLog();

  QString Path() const { return path_; }
  bool IsOn() const { return file_.isOpen(); }
  // Opens (or reopens, appending) the file of this run. False with `error` set on failure.
  bool Start(QString* error);
  void Stop() { file_.close(); }
  void Write(const QString& entry);

 private:
  QString path_;
  QFile file_;
};

}  // namespace velmora
