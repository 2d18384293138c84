#pragma once

#include <QByteArrayView>
#include <QString>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// A place in the log: line and UTF-16 column.
struct LogPos {
  qsizetype line = 0;
  qsizetype column = 0;
  friend auto operator<=>(const LogPos&, const LogPos&) = default;
};

// The log's text, lines kept as UTF-8 in large shared blocks, plus a small index entry
// per line: a whole shift of entries costs little more than its text. Lines are never
// split across blocks. An edited line is written anew and the old bytes left behind;
// when those outgrow the live text, everything is packed again.
class LogText {
 public:
  LogText();

  qsizetype LineCount() const { return static_cast<qsizetype>(lines_.size()); }
  QString Line(qsizetype i) const;
  // At most the first `most` UTF-16 units of line i.
  QString Line(qsizetype i, qsizetype most) const;
  qsizetype LineLength(qsizetype i) const { return lines_[static_cast<std::size_t>(i)].units; }
  // Line i as the UTF-8 bytes it is kept in; valid until the text changes.
  QByteArrayView LineBytes(qsizetype i) const;
  // UTF-16 units of the whole text, a line end counting one.
  qsizetype Size() const { return size_; }
  qsizetype LongestLine() const { return longest_; }
  qsizetype LongestLineIndex() const { return longest_line_; }
  LogPos End() const { return {LineCount() - 1, LineLength(LineCount() - 1)}; }

  // Appends at the very end; CR LF and a bare CR end a line as LF does.
  void Append(QStringView text);
  // Append in two steps: Stage stores the text as it comes, while it is still in the
  // processor's cache, and Commit makes everything staged part of the text, as Append
  // would have at that moment. Until then the text, its size and Find know nothing of it.
  void Stage(QStringView text);
  void Commit();
  bool HasStaged() const { return !staged_.empty(); }
  // Replaces [from, to) with `text` (LF ends a line) and returns the position behind it.
  LogPos Replace(LogPos from, LogPos to, QStringView text);
  QString Text(LogPos from, LogPos to) const;
  QString Text() const { return Text({0, 0}, End()); }
  void Clear();

  // Where the first match of `needle`, in any letter case, starts at or after `from`, or
  // with `backwards` the last one starting before it, wrapping round the text; none when
  // the text holds no match.
  std::optional<LogPos> Find(const QString& needle, LogPos from, bool backwards) const;

  qsizetype Offset(LogPos p) const;
  LogPos PosAt(qsizetype offset) const;
  LogPos Clamp(LogPos p) const;

  // Heap bytes held: blocks and index.
  std::size_t Footprint() const;

 private:
  struct LineRef {
    std::uint32_t block;
    std::uint32_t offset;
    std::uint32_t bytes;
    std::uint32_t units;
  };
  // Frees a block the way it was taken: mapped (its size) or from the heap (0).
  struct BlockFree {
    std::size_t mapped = 0;
    void operator()(char* p) const;
  };
  using Block = std::unique_ptr<char[], BlockFree>;
  // `shared` blocks take many short lines and are filled a line at a time.
  static Block NewBlock(std::size_t bytes, bool shared);
  LineRef Store(QStringView line);
  QString Decode(const LineRef& r) const;
  void Pack();

  std::vector<Block> blocks_;
  std::vector<std::size_t> block_sizes_;
  std::size_t current_ = 0;  // the block short lines go to
  std::size_t used_ = 0;     // bytes used in it
  std::size_t populated_ = 0;  // bytes of it whose pages are present
  std::vector<LineRef> lines_;
  std::vector<LineRef> staged_;  // what goes on the last line, then one per line end
  qsizetype size_ = 0;
  qsizetype longest_ = 0;
  qsizetype longest_line_ = 0;
  std::size_t stale_bytes_ = 0;
  std::size_t live_bytes_ = 0;
};

}  // namespace velmora
