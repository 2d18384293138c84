#include "cli/output.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

#include "cli/exit_status.h"

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace velmora::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr qint64 kRedrawMs = 100;

void Put(FILE* f, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), f);
}

QString KiB(uint64_t bytes) { return QString::number(static_cast<double>(bytes) / 1024.0, 'f', 1); }

QString Seconds(qint64 ms) { return QString::number(static_cast<double>(ms) / 1000.0, 'f', 2) + QStringLiteral(" s"); }

}  // namespace

QString StatusWord(int status) {
  switch (status) {
    case kExitDone: return QStringLiteral("ok");
    case kExitNoAnswer: return QStringLiteral("failed");
    case kExitBadInput: return QStringLiteral("bad input");
    case kExitLinkFailed: return QStringLiteral("link failed");
    case kExitInterrupted: return QStringLiteral("interrupted");
    default: return QStringLiteral("failed");
  }
}

Output::Output(bool json, bool terminal, bool document_on_stdout)
    : json_(json), terminal_(terminal), document_on_stdout_(document_on_stdout) {}

bool Output::StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

void Output::JsonLine(const QJsonObject& object) {
  Put(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
  std::fflush(stdout);
}

void Output::Result(const QString& device, const QString& command, const DeviceResult& r, qint64 elapsed_ms) {
  uploads_.erase(device);
  const UnitFacts& facts = r.facts;
  // A device left half done must say so: what was done before the failure.
  QString text = r.text;
  if (r.status != kExitDone && facts.changes_device) {
    text += facts.steps.isEmpty() ? QStringLiteral(" (no step was completed on this device)")
                              : QStringLiteral(" (done on this device before: %1)").arg(facts.steps.join(QStringLiteral(", ")));
  }
  if (json_) {
    QJsonObject o = r.data;
    if (facts.changes_device) o.insert(QStringLiteral("steps"), QJsonArray::fromStringList(facts.steps));
    if (!facts.mac.isEmpty()) o.insert(QStringLiteral("mac"), facts.mac);
    if (!facts.local_ip.isEmpty()) o.insert(QStringLiteral("local_ip"), facts.local_ip);
    if (!facts.version.isEmpty() && !o.contains(QStringLiteral("version"))) o.insert(QStringLiteral("version"), facts.version);
    if (!facts.version_after.isEmpty()) o.insert(QStringLiteral("version_after"), facts.version_after);
    if (facts.csq && !o.contains(QStringLiteral("csq"))) o.insert(QStringLiteral("csq"), *facts.csq);
    o.insert(QStringLiteral("device"), device);
    o.insert(QStringLiteral("command"), command);
    o.insert(QStringLiteral("result"), StatusWord(r.status));
    o.insert(QStringLiteral("status"), r.status);
    o.insert(QStringLiteral("message"), text);
    if (!r.details.isEmpty()) o.insert(QStringLiteral("details"), QJsonArray::fromStringList(r.details));
    o.insert(QStringLiteral("time_ms"), elapsed_ms);
    JsonLine(o);
    return;
  }
  ClearBar();
  FILE* f = r.status == kExitDone ? ResultStream() : stderr;
  QString line = device + QStringLiteral(": ") + text + QLatin1Char('\n');
  for (const QString& d : r.details) line += QStringLiteral("  ") + d + QLatin1Char('\n');
  Put(f, line);
  std::fflush(f);
  DrawBar(true);
}

void Output::Progress(const QString& device, uint64_t sent, uint64_t total) {
  if (!since_start_.isValid()) since_start_.start();
  Upload& u = uploads_[device];
  u.sent = sent;
  u.total = total;
  const int step = total ? static_cast<int>(sent * 10 / total) : 10;
  if (json_) {
    if (step == u.step) return;
    u.step = step;
    QJsonObject o{{QStringLiteral("device"), device},
                  {QStringLiteral("event"), QStringLiteral("progress")},
                  {QStringLiteral("sent"), static_cast<qint64>(sent)},
                  {QStringLiteral("total"), static_cast<qint64>(total)}};
    JsonLine(o);
    return;
  }
  if (!terminal_) {
    if (step == u.step) return;
    u.step = step;
    Put(stderr, QStringLiteral("%1: upload %2% (%3 of %4 KiB)\n").arg(device).arg(step * 10).arg(KiB(sent), KiB(total)));
    std::fflush(stderr);
    return;
  }
  DrawBar(false);
}

void Output::DrawBar(bool force) {
  if (json_ || !terminal_ || uploads_.empty()) return;
  if (!force && since_draw_.isValid() && since_draw_.elapsed() < kRedrawMs) return;
  since_draw_.start();
  uint64_t sent = 0;
  uint64_t total = 0;
  for (const auto& [name, u] : uploads_) {
    sent += u.sent;
    total += u.total;
  }
  const double fraction = total ? static_cast<double>(sent) / static_cast<double>(total) : 1.0;
  const int filled = static_cast<int>(fraction * kBarWidth);
  const double seconds = static_cast<double>(since_start_.elapsed()) / 1000.0;
  const double rate = seconds > 0 ? static_cast<double>(sent) / 1024.0 / seconds : 0.0;
  QString left = QStringLiteral("--");
  if (rate > 0 && total >= sent) {
    left = QString::number(static_cast<double>(total - sent) / 1024.0 / rate, 'f', 0) + QStringLiteral(" s");
  }
  QString who = uploads_.size() == 1 ? uploads_.begin()->first : QStringLiteral("%1 devices").arg(uploads_.size());
  const QString bar = QStringLiteral("\r\x1b[K%1 [%2%3] %4% %5/%6 KiB %7 KiB/s %8 left")
                          .arg(who, QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char('.')))
                          .arg(static_cast<int>(fraction * 100), 3)
                          .arg(KiB(sent), KiB(total), QString::number(rate, 'f', 1), left);
  Put(stderr, bar);
  std::fflush(stderr);
  bar_shown_ = true;
}

void Output::ClearBar() {
  if (!bar_shown_) return;
  Put(stderr, QStringLiteral("\r\x1b[K"));
  std::fflush(stderr);
  bar_shown_ = false;
}

void Output::Summary(const QString& command,
                     const std::vector<std::pair<QString, std::pair<DeviceResult, qint64>>>& rows) {
  int failed = 0;
  for (const auto& row : rows) failed += row.second.first.status != kExitDone ? 1 : 0;
  if (json_) {
    JsonLine(QJsonObject{{QStringLiteral("event"), QStringLiteral("summary")},
                         {QStringLiteral("command"), command},
                         {QStringLiteral("devices"), static_cast<int>(rows.size())},
                         {QStringLiteral("failed"), failed}});
    return;
  }
  ClearBar();
  int width = 6;
  for (const auto& row : rows) width = std::max(width, static_cast<int>(row.first.size()));
  FILE* f = ResultStream();
  QString table = QStringLiteral("\n%1  %2  %3\n").arg(QStringLiteral("device").leftJustified(width),
                                                       QStringLiteral("result").leftJustified(12), QStringLiteral("time"));
  for (const auto& [device, result] : rows) {
    table += QStringLiteral("%1  %2  %3\n")
                 .arg(device.leftJustified(width), StatusWord(result.first.status).leftJustified(12),
                      Seconds(result.second));
  }
  table += QStringLiteral("%1 of %2 devices succeeded\n").arg(rows.size() - static_cast<std::size_t>(failed)).arg(rows.size());
  Put(f, table);
  std::fflush(f);
}

void Output::Document(const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  if (!bytes.endsWith('\n')) std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Output::Error(const QString& text, int status) {
  if (json_) {
    JsonLine(QJsonObject{{QStringLiteral("error"), text}, {QStringLiteral("exit"), status}});
    return;
  }
  ClearBar();
  Put(stderr, QStringLiteral("velmora-cli: ") + text + QLatin1Char('\n'));
  std::fflush(stderr);
}

void Output::Notice(const QString& text) {
  if (json_) {
    JsonLine(QJsonObject{{QStringLiteral("event"), QStringLiteral("notice")}, {QStringLiteral("message"), text}});
    return;
  }
  ClearBar();
  Put(stderr, QStringLiteral("velmora-cli: ") + text + QLatin1Char('\n'));
  std::fflush(stderr);
}

}  // namespace velmora::cli
