// The device register on SQLite and on PostgreSQL (a server of the benchmark's own, as
// the tests start it): rows written per second, one per transaction as the window
// records its contacts and 500 to a transaction as the writer drains a burst; with
// 100,000 rows in the register, the time from "读取记录" to the newest 10,000 shown in
// the record dialog; and the register's size per row. Five runs each, then the smallest,
// middle and largest figure beside its goal.
//
//   cmake --preset release && cmake --build --preset release --target register_bench
//   ./build/release/bench/register_bench

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "records/ui/records_dialog.h"
#include "registry/device_register.h"
#include "support/fake_modal_ui.h"
#include "support/pg_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using velmora::DeviceRegister;
using velmora::RegisterRow;

constexpr int kRegisterRows = 100000;

velmora::test::PgServer* Server() {
  static auto* server = [] {
    auto* s = new velmora::test::PgServer;
    if (!s->Start()) std::printf("postgresql: no server, its figures are skipped: %s\n", qPrintable(s->Reason()));
    return s;
  }();
  return server;
}

// A fresh, empty register; `engine` 0 SQLite, 1 PostgreSQL. Empty when none can be had.
QString FreshRegister(int engine, QTemporaryDir& dir) {
  static int n = 0;
  ++n;
  if (engine == 0) return QStringLiteral("sqlite:%1/register-%2.sqlite").arg(dir.path()).arg(n);
  return Server()->CreateDatabase(QStringLiteral("bench_%1").arg(n));
}

const char* EngineName(int engine) { return engine == 0 ? "sqlite" : "postgresql"; }

RegisterRow Contact(int i) {
  RegisterRow r;
  r.time = QDateTime::fromMSecsSinceEpoch(1714550400000 + i * 1000LL, Qt::UTC);
  r.link = "udp";
  r.address = QStringLiteral("192.168.%1.%2").arg(i / 250 % 250).arg(i % 250);
  r.firmware_version = "DTU V2.4.1";
  r.csq = i % 32;
  r.mac = QStringLiteral("02:1A:2B:%1:%2:%3").arg(i >> 16 & 0xFF, 2, 16, QLatin1Char('0')).arg(i >> 8 & 0xFF, 2, 16, QLatin1Char('0')).arg(i & 0xFF, 2, 16, QLatin1Char('0'));
  r.local_ip = r.address;
  r.product_key = "kQ7tRw2LmZs";
  r.device_name = QStringLiteral("unit-%1").arg(i);
  r.operation = "apply";
  return r;
}

bool Fill(DeviceRegister& reg, int from, int count, int per_transaction) {
  QString error;
  for (int i = 0; i < count; i += per_transaction) {
    std::vector<RegisterRow> rows;
    for (int j = i; j < std::min(count, i + per_transaction); ++j) rows.push_back(Contact(from + j));
    if (!reg.Add(rows, &error)) {
      std::printf("write failed: %s\n", qPrintable(error));
      return false;
    }
  }
  return true;
}

void BM_RegisterInsert(benchmark::State& state) {
  const int engine = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  std::vector<double> single, batched;
  for (auto _ : state) {
    const QString url = FreshRegister(engine, dir);
    QString error;
    auto reg = url.isEmpty() ? nullptr : DeviceRegister::Open(url, &error);
    if (!reg) {
      state.SkipWithError("no register");
      return;
    }
    constexpr int kSingle = 2000, kBatched = 50000;
    auto t = Clock::now();
    if (!Fill(*reg, 0, kSingle, 1)) return;
    single.push_back(kSingle / std::chrono::duration<double>(Clock::now() - t).count());
    t = Clock::now();
    if (!Fill(*reg, kSingle, kBatched, 500)) return;
    batched.push_back(kBatched / std::chrono::duration<double>(Clock::now() - t).count());
    std::printf("%s: %.0f rows/s one per transaction, %.0f rows/s 500 to a transaction\n", EngineName(engine), single.back(), batched.back());
  }
  const std::string e = EngineName(engine);
  velmora::bench::PrintSpread((e + ", rows written one per transaction").c_str(), single, 0, "rows/s", "(a contact is one row; goal well above the tens a station makes per second)");
  velmora::bench::PrintSpread((e + ", rows written 500 to a transaction").c_str(), batched, 0, "rows/s", "");
}
BENCHMARK(BM_RegisterInsert)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kSecond);

void BM_RegisterRead(benchmark::State& state) {
  const int engine = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  const QString url = FreshRegister(engine, dir);
  QString error;
  {
    auto reg = url.isEmpty() ? nullptr : DeviceRegister::Open(url, &error);
    if (!reg || !Fill(*reg, 0, kRegisterRows, 1000)) {
      state.SkipWithError("no register");
      return;
    }
  }
  // The size per row, once the writers are gone (SQLite has folded its journal back).
  double bytes = 0;
  if (engine == 0) {
    bytes = static_cast<double>(QFileInfo(url.mid(7)).size() + QFileInfo(url.mid(7) + "-wal").size());
  } else {
    auto u = velmora::RegisterUrl::Parse(url, nullptr);
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "size");
    db.setHostName(u->host);
    db.setPort(u->port);
    db.setUserName(u->user);
    db.setDatabaseName(u->database);
    if (db.open()) {
      QSqlQuery q(db);
      if (q.exec("SELECT pg_total_relation_size('device_contacts')") && q.next()) bytes = q.value(0).toDouble();
    }
  }
  QSqlDatabase::removeDatabase("size");
  std::printf("%s: %d rows take %.1f MB, %.0f bytes a row (table and index)\n", EngineName(engine), kRegisterRows, bytes / 1e6,
              bytes / kRegisterRows);

  velmora::test::FakeModalUi ui;
  std::vector<double> times, query_times;
  for (auto _ : state) {
    {  // the query alone, for the share the list takes
      const auto t = Clock::now();
      auto reg = DeviceRegister::Open(url, &error);
      if (!reg || !reg->Rows({}, velmora::RecordsDialog::kShownRows, &error)) {
        state.SkipWithError("no rows");
        return;
      }
      query_times.push_back(std::chrono::duration<double>(Clock::now() - t).count());
    }
    velmora::RecordsDialog dialog(ui);
    dialog.SetRegister(url);
    dialog.show();
    QApplication::processEvents();
    const auto t = Clock::now();
    dialog.ReadRecords();  // what "读取记录" does: a new connection, the query, the list
    dialog.RecordList()->viewport()->repaint();
    const double s = std::chrono::duration<double>(Clock::now() - t).count();
    if (dialog.RecordCount() != velmora::RecordsDialog::kShownRows || !ui.messages.isEmpty()) {
      state.SkipWithError("the list was not filled");
      return;
    }
    times.push_back(s);
    std::printf("%s: 读取记录 with %d rows in the register: newest %d shown in %.3f s (the query alone %.3f s)\n",
                EngineName(engine), kRegisterRows, velmora::RecordsDialog::kShownRows, s, query_times.back());
  }
  velmora::bench::PrintSpread((std::string(EngineName(engine)) + ", 读取记录 of the newest 10000 of 100000 rows").c_str(), times, 3, "s", "(goal <= 0.5 s)");
  velmora::bench::PrintSpread((std::string(EngineName(engine)) + ", of which opening and the query").c_str(), query_times, 3, "s", "");
}
BENCHMARK(BM_RegisterRead)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  const int code = velmora::bench::RunQtBenchmarks(argc, argv);
  delete Server();
  return code;
}
