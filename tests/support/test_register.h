#pragma once
// A device register on the engine a parameterised test names: "sqlite", a file in a
// temporary folder, or "postgresql", a fresh database on a server of the test's own.
// Every register test runs on both:
//
//   class T : public ::testing::TestWithParam<std::string> {};
//   TEST_P(T, ...) { TestRegister reg; VELMORA_START_REGISTER(reg, GetParam()); ... }
//   VELMORA_ON_BOTH_ENGINES(T);

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>
#include <string>

#include "support/pg_server.h"

namespace velmora::test {

class TestRegister {
 public:
  // False, with Reason(), where the engine cannot be had here; SQLite always can.
  bool Start(const std::string& engine);
  QString Url() const { return url_; }
  QString Reason() const { return reason_; }
  bool IsSqlite() const { return !server_; }
  QString SqlitePath() const { return dir_.filePath(QStringLiteral("register.sqlite")); }
  QString Folder() const { return dir_.path(); }
  PgServer* Server() { return server_.get(); }
  // Runs one statement on the register past DeviceRegister, as another program would;
  // the first value it returns.
  QVariant Exec(const QString& sql) const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<PgServer> server_;
  QString url_;
  QString reason_;
};

}  // namespace velmora::test

// Skips the test, naming the reason, where the engine cannot be had.
#define VELMORA_START_REGISTER(reg, engine) \
  if (!(reg).Start(engine)) GTEST_SKIP() << (reg).Reason().toStdString()

#define VELMORA_ON_BOTH_ENGINES(suite)                                                              \
  INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values(std::string("sqlite"), std::string("postgresql")), \
                           [](const ::testing::TestParamInfo<std::string>& info) { return info.param; })
