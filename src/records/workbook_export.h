#pragma once
// Export of a table of texts into a workbook file. The record dialog codes against
// IWorkbookExporter only, so the spreadsheet side can be swapped without touching it.
// Pure C++: no Qt.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr int kExportOk = 0;
inline constexpr int kExportFailed = -1;

// Longest text of a title or cell that reaches the sheet, in characters (code points).
inline constexpr std::size_t kMaxCellChars = 99;

// Texts are UTF-8. Titles go to row 1 in the order given (the caller passes the columns
// in their logical order, not in the order the headers are shown); rows follow from
// row 2. A row may be shorter or longer than the title row.
struct RecordTable {
  std::vector<std::string> titles;
  std::vector<std::vector<std::string>> rows;
};

class IWorkbookExporter {
 public:
  virtual ~IWorkbookExporter() = default;

  // Writes `table` into a new workbook with one sheet `sheet_name` at `file_path_utf8`,
  // replacing an existing file without asking. Returns kExportOk, or kExportFailed when
  // nothing usable was written (the file at the path is then left as it was).
  virtual int Export(const RecordTable& table, const std::string& sheet_name,
                     const std::string& file_path_utf8) = 0;
};

// Writes an .xlsx file. Every text is cut to kMaxCellChars characters and stored as a
// string; empty texts leave their cell empty. The workbook is written next to the
// target under a temporary name and renamed over it only once complete, so a failed
// export never leaves a half-written file behind the user's chosen name.
class XlsxWorkbookExporter final : public IWorkbookExporter {
 public:
  int Export(const RecordTable& table, const std::string& sheet_name,
             const std::string& file_path_utf8) override;
};

// The first `max_chars` characters of `text`. Bytes that are not valid UTF-8 become
// U+FFFD each, since a single stray byte would make the whole workbook unreadable.
std::string CellText(std::string_view text, std::size_t max_chars = kMaxCellChars);

}  // namespace velmora
