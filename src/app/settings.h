#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace velmora {

class MainWindow;
class QtModalUi;

// What the tool remembers between runs: the serial port, baud rate and parity, the
// broadcast address, the firmware folder, the language, where the window was and the
// session log option. The configuration form is not among them; profiles keep forms on purpose.
// A missing, unreadable or corrupt file, or a value out of range, leaves the default.
class AppSettings {
 public:
  // velmora/velmora.ini in the user's configuration folder.
  AppSettings();
  ~AppSettings();
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  void Restore(MainWindow& window, QtModalUi& modal);
  void Save(const MainWindow& window, const QtModalUi& modal);
  // The interface language the tool last ran in, empty for the default.
  QString Language() const;
  QString FileName() const;

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace velmora
