#include "records/workbook_export.h"

#include <xlsxwriter.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Paths are UTF-8 at this interface. On Windows a narrow path would be read in the ANSI
// code page, so every path goes through the wide API there; elsewhere the bytes pass
// through unchanged.
fs::path PathFromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// "x": fail rather than reuse a file that is already there.
std::FILE* CreateNewFile(const fs::path& p) {
#ifdef _WIN32
  return _wfopen(p.c_str(), L"wbx");
#else
  return std::fopen(p.c_str(), "wbx");
#endif
}

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one
// (stray continuation byte, truncated sequence, overlong form, surrogate, > U+10FFFF).
std::size_t ValidSequenceLength(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const uint8_t lead = b(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return cont(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (lead == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && b(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (lead == 0xF0 && b(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && b(1) >= 0x90) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// A name next to `target` that did not exist and now does, created by us.
bool CreateTempBeside(const fs::path& target, fs::path& temp) {
  std::random_device rd;
  std::mt19937 gen(rd());
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(gen()));
    fs::path name(".");
    name += target.filename();
    name += suffix;
    fs::path candidate = dir / name;
    if (std::FILE* f = CreateNewFile(candidate)) {
      std::fclose(f);
      temp = std::move(candidate);
      return true;
    }
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return false;
  }
  return false;
}

// An existing file the user (or the system) marked read-only is not overwritten. The
// permission bits are checked as well as access(), so the rule holds for root too.
bool IsReadOnlyFile(const fs::path& p) {
  std::error_code ec;
  const auto st = fs::status(p, ec);
  if (ec || !fs::is_regular_file(st)) return false;
  constexpr auto write_bits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((st.permissions() & write_bits) == fs::perms::none) return true;
#ifndef _WIN32
  if (::access(p.c_str(), W_OK) != 0) return true;
#endif
  return false;
}

bool WriteSheet(lxw_worksheet* sheet, const RecordTable& table) {
  const auto put = [&](std::size_t row, std::size_t col, const std::string& text) {
    if (row > LXW_ROW_MAX - 1 || col > LXW_COL_MAX - 1) return false;
    const std::string cut = CellText(text);
    if (cut.empty()) return true;  // an empty text leaves the cell empty
    return worksheet_write_string(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(col),
                                  cut.c_str(), nullptr) == LXW_NO_ERROR;
  };
  for (std::size_t c = 0; c < table.titles.size(); ++c) {
    if (!put(0, c, table.titles[c])) return false;
  }
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (!put(r + 1, c, row[c])) return false;
    }
  }
  return true;
}

// Writes the complete workbook at `path` (which exists, empty, and is ours).
bool WriteWorkbook(const fs::path& path, const RecordTable& table, const std::string& sheet_name) {
  // libxlsxwriter takes the file name as UTF-8.
  lxw_workbook* book = workbook_new(Utf8(path).c_str());
  if (!book) return false;
  lxw_worksheet* sheet = workbook_add_worksheet(book, sheet_name.c_str());
  const bool written = sheet && WriteSheet(sheet, table);
  // workbook_close frees the workbook whatever it returns.
  const bool closed = workbook_close(book) == LXW_NO_ERROR;
  return written && closed;
}

}  // namespace

std::string CellText(std::string_view text, std::size_t max_chars) {
  std::string out;
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size() && chars < max_chars) {
    if (text[i] == '\0') break;  // the sheet receives C strings: a NUL ends the text
    const std::size_t n = ValidSequenceLength(text.substr(i));
    if (n == 0) {
      out.append(kReplacement);
      i += 1;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
    ++chars;
  }
  return out;
}

int XlsxWorkbookExporter::Export(const RecordTable& table, const std::string& sheet_name,
                                 const std::string& file_path_utf8) {
  if (file_path_utf8.empty() || sheet_name.empty()) return kExportFailed;
  fs::path target = PathFromUtf8(file_path_utf8);
  std::error_code ec;

  // Replace the file a link points to, not the link itself.
  if (fs::is_symlink(target, ec) && fs::exists(target, ec)) {
    target = fs::canonical(target, ec);
    if (ec) return kExportFailed;
  }
  if (fs::is_directory(target, ec) || IsReadOnlyFile(target)) return kExportFailed;

  fs::path temp;
  if (!CreateTempBeside(target, temp)) return kExportFailed;
  if (!WriteWorkbook(temp, table, sheet_name)) {
    fs::remove(temp, ec);
    return kExportFailed;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return kExportFailed;
  }
  return kExportOk;
}

}  // namespace velmora
