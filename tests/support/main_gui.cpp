#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  // No test writes to the user's own device register: the data folder, where the register
  // lives by default, is a temporary one for the run, the programs it starts included.
  QTemporaryDir data_home;
  qputenv("XDG_DATA_HOME", QFile::encodeName(data_home.path()));
  qunsetenv("VELMORA_REGISTER");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
