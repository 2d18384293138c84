#pragma once
// Reads a workbook back through openpyxl, a reader that is deliberately not the library
// that wrote the file, so a test that checks the result checks the file itself.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "records/record_columns.h"

namespace velmora::test {

// The sheet names and the non-empty cells of the first sheet.
struct ReadBack {
  std::vector<std::string> sheets;
  std::map<std::string, std::string> cells;  // "A1" -> text
  std::map<std::string, std::string> types;  // "A1" -> openpyxl data type ("s" for text)
};

inline ::testing::AssertionResult ReadWorkbook(const std::filesystem::path& file, ReadBack& out) {
  QProcess py;
  py.start(VELMORA_PYTHON, {VELMORA_DUMP_WORKBOOK, QString::fromStdString(file.string())});
  if (!py.waitForFinished(60000) || py.exitStatus() != QProcess::NormalExit || py.exitCode() != 0) {
    return ::testing::AssertionFailure() << "openpyxl could not read " << file << ": "
                                         << py.readAllStandardError().toStdString();
  }
  const QJsonObject root = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
  out = {};
  for (const auto& s : root["sheets"].toArray()) out.sheets.push_back(s.toString().toStdString());
  if (out.sheets.empty()) return ::testing::AssertionFailure() << "no sheets in " << file;
  const QJsonArray cells = root["cells"].toObject()[QString::fromStdString(out.sheets[0])].toArray();
  for (const auto& c : cells) {
    const QJsonObject o = c.toObject();
    const std::string ref = o["ref"].toString().toStdString();
    out.cells[ref] = o["value"].toString().toStdString();
    out.types[ref] = o["type"].toString().toStdString();
  }
  return ::testing::AssertionSuccess();
}

inline std::string Ref(char column, int row) { return std::string(1, column) + std::to_string(row); }

// Row 1 of a workbook of the Record list: the twelve titles in A1..L1.
inline std::map<std::string, std::string> TitleRow() {
  std::map<std::string, std::string> m;
  for (std::size_t c = 0; c < kRecordColumns.size(); ++c) m[Ref(char('A' + c), 1)] = kRecordColumns[c].title;
  return m;
}

}  // namespace velmora::test
