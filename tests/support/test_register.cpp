#include "support/test_register.h"

namespace velmora::test {

bool TestRegister::Start(const std::string& engine) {
  if (engine == "sqlite") {
    url_ = QStringLiteral("sqlite:") + SqlitePath();
    return true;
  }
  server_ = std::make_unique<PgServer>();
  if (!server_->Start()) {
    reason_ = QStringLiteral("no PostgreSQL server for this test: ") + server_->Reason();
    return false;
  }
  url_ = server_->CreateDatabase(QStringLiteral("velmora_test"));
  reason_ = server_->Reason();
  return !url_.isEmpty();
}

}  // namespace velmora::test
