#include "widgets/log_text.h"

#include <QStringConverter>

#include <algorithm>
#include <cstring>
#include <optional>

namespace velmora {

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// Longer lines get a block of their own, so short ones never leave much of a block unused.
constexpr std::size_t kOwnBlockBytes = kBlockBytes / 8;

// Where the next line break (CR or LF) is at or after `from`, or the size.
qsizetype NextBreak(QStringView s, qsizetype from, qsizetype& next_cr, qsizetype& next_lf) {
  if (next_cr < from) {
    next_cr = s.indexOf(u'\r', from);
    if (next_cr < 0) next_cr = s.size();
  }
  if (next_lf < from) {
    next_lf = s.indexOf(u'\n', from);
    if (next_lf < 0) next_lf = s.size();
  }
  return std::min(next_cr, next_lf);
}

// A needle found in any letter case in the UTF-8 text as it is kept, so a search through a
// long log decodes only the lines it matches in (Horspool's skips). Only for needles whose
// letters are ASCII, the others having no case (Chinese, digits, signs): folding ASCII
// bytes is then all the letter case there is. UTF-8 never starts a character inside
// another, so a match is always whole characters.
class Utf8Needle {
 public:
  static bool Fits(const QString& needle) {
    return !needle.isEmpty() && std::all_of(needle.begin(), needle.end(), [](QChar c) {
             return c.unicode() < 0x80 || (!c.isSurrogate() && c.toLower() == c && c.toUpper() == c &&
                                           c.toCaseFolded() == c && c.toTitleCase() == c);
           });
  }
  explicit Utf8Needle(const QString& needle) : needle_(needle.toUtf8()) {
    for (char& c : needle_) c = Fold(c);
    const auto m = static_cast<std::size_t>(needle_.size());
    std::fill(std::begin(skip_), std::end(skip_), m);
    for (std::size_t i = 0; i + 1 < m; ++i) skip_[static_cast<unsigned char>(needle_[static_cast<qsizetype>(i)])] = m - 1 - i;
  }
  // The byte offset of the first match at or after `from`, or -1.
  qsizetype In(QByteArrayView text, qsizetype from) const {
    const qsizetype m = needle_.size();
    const char* t = text.data();
    for (qsizetype pos = from; pos + m <= text.size();) {
      const char last = Fold(t[pos + m - 1]);
      if (last == needle_[m - 1]) {
        qsizetype k = m - 2;
        while (k >= 0 && Fold(t[pos + k]) == needle_[k]) --k;
        if (k < 0) return pos;
      }
      pos += static_cast<qsizetype>(skip_[static_cast<unsigned char>(last)]);
    }
    return -1;
  }

 private:
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
  QByteArray needle_;
  std::size_t skip_[256];
};

}  // namespace

LogText::LogText() { Clear(); }

void LogText::Clear() {
  blocks_.clear();
  block_sizes_.clear();
  current_ = 0;
  used_ = kBlockBytes;  // the first short line opens a block
  lines_.assign(1, LineRef{0, 0, 0, 0});
  lines_.shrink_to_fit();
  size_ = 0;
  longest_ = 0;
  longest_line_ = 0;
  stale_bytes_ = 0;
  live_bytes_ = 0;
}

QString LogText::Line(qsizetype i) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.bytes == 0) return {};
  return QString::fromUtf8(blocks_[r.block].get() + r.offset, r.bytes);
}

QByteArrayView LogText::LineBytes(qsizetype i) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.bytes == 0) return {};
  return {blocks_[r.block].get() + r.offset, static_cast<qsizetype>(r.bytes)};
}

QString LogText::Line(qsizetype i, qsizetype most) const {
  const LineRef& r = lines_[static_cast<std::size_t>(i)];
  if (r.units <= most) return Line(i);
  // No character takes more than three bytes, so this many hold the first `most`.
  const auto bytes = static_cast<qsizetype>(std::min<std::size_t>(r.bytes, 3 * static_cast<std::size_t>(most)));
  QString s = QString::fromUtf8(blocks_[r.block].get() + r.offset, bytes);
  s.truncate(most);
  return s;
}

LogText::LineRef LogText::Store(QStringView line) {
  if (line.isEmpty()) return {0, 0, 0, 0};
  const auto units = static_cast<std::uint32_t>(line.size());
  const std::size_t worst = 3 * static_cast<std::size_t>(line.size());
  QStringEncoder utf8(QStringEncoder::Utf8);
  if (worst > kOwnBlockBytes) {
    const QByteArray bytes = line.toUtf8();
    auto block = std::make_unique<char[]>(static_cast<std::size_t>(bytes.size()));
    std::memcpy(block.get(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    blocks_.push_back(std::move(block));
    block_sizes_.push_back(static_cast<std::size_t>(bytes.size()));
    live_bytes_ += static_cast<std::size_t>(bytes.size());
    return {static_cast<std::uint32_t>(blocks_.size() - 1), 0, static_cast<std::uint32_t>(bytes.size()), units};
  }
  if (blocks_.empty() || used_ + worst > block_sizes_[current_]) {
    blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
    block_sizes_.push_back(kBlockBytes);
    current_ = blocks_.size() - 1;
    used_ = 0;
  }
  char* start = blocks_[current_].get() + used_;
  char* end = utf8.appendToBuffer(start, line);
  const auto bytes = static_cast<std::uint32_t>(end - start);
  const LineRef ref{static_cast<std::uint32_t>(current_), static_cast<std::uint32_t>(used_), bytes, units};
  used_ += bytes;
  live_bytes_ += bytes;
  return ref;
}

void LogText::Append(QStringView text) {
  qsizetype start = 0;
  qsizetype next_cr = -1, next_lf = -1;
  const qsizetype n = text.size();
  while (true) {
    const qsizetype brk = NextBreak(text, start, next_cr, next_lf);
    if (brk > start) {
      // The segment continues the last line, which is usually still empty.
      LineRef& last = lines_.back();
      const QStringView segment = text.mid(start, brk - start);
      qsizetype units = segment.size();
      if (last.units == 0) {
        last = Store(segment);
      } else {
        QString joined = Line(LineCount() - 1);
        joined += segment;
        stale_bytes_ += last.bytes;
        live_bytes_ -= last.bytes;
        lines_.back() = Store(joined);
      }
      size_ += units;
      if (lines_.back().units > longest_) {
        longest_ = lines_.back().units;
        longest_line_ = LineCount() - 1;
      }
    }
    if (brk >= n) break;
    start = brk + ((text[brk] == u'\r' && brk + 1 < n && text[brk + 1] == u'\n') ? 2 : 1);
    lines_.push_back(LineRef{0, 0, 0, 0});
    ++size_;
  }
  if (stale_bytes_ > std::max(live_bytes_, kBlockBytes * 4)) Pack();
}

LogPos LogText::Clamp(LogPos p) const {
  p.line = std::clamp<qsizetype>(p.line, 0, LineCount() - 1);
  p.column = std::clamp<qsizetype>(p.column, 0, LineLength(p.line));
  return p;
}

LogPos LogText::Replace(LogPos from, LogPos to, QStringView text) {
  from = Clamp(from);
  to = Clamp(to);
  if (to < from) std::swap(from, to);
  QString joined = Line(from.line).left(from.column);
  joined += text;
  joined.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  joined.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // Where the caret goes: behind the inserted text.
  const qsizetype inserted_end = joined.size();
  joined += QStringView(Line(to.line)).mid(to.column);

  for (qsizetype i = from.line; i <= to.line; ++i) {
    const LineRef& r = lines_[static_cast<std::size_t>(i)];
    stale_bytes_ += r.bytes;
    live_bytes_ -= r.bytes;
    size_ -= r.units;
  }
  size_ -= to.line - from.line;
  std::vector<LineRef> fresh;
  LogPos after{from.line, 0};
  qsizetype start = 0;
  while (true) {
    const qsizetype lf = joined.indexOf(u'\n', start);
    const qsizetype stop = lf < 0 ? joined.size() : lf;
    fresh.push_back(Store(QStringView(joined).mid(start, stop - start)));
    size_ += stop - start;
    if (stop - start > longest_) {
      longest_ = stop - start;
      longest_line_ = from.line + static_cast<qsizetype>(fresh.size()) - 1;
    }
    if (inserted_end >= start && inserted_end <= stop) {
      after = {from.line + static_cast<qsizetype>(fresh.size()) - 1, inserted_end - start};
    }
    if (lf < 0) break;
    ++size_;
    start = lf + 1;
  }
  // Typing rewrites one line: overwrite in place and move the rest only for the difference.
  const auto first = lines_.begin() + from.line;
  const auto old_count = static_cast<std::size_t>(to.line - from.line + 1);
  const std::size_t kept = std::min(old_count, fresh.size());
  std::copy_n(fresh.begin(), kept, first);
  if (old_count > kept) {
    lines_.erase(first + static_cast<std::ptrdiff_t>(kept), first + static_cast<std::ptrdiff_t>(old_count));
  } else {
    lines_.insert(first + static_cast<std::ptrdiff_t>(kept), fresh.begin() + static_cast<std::ptrdiff_t>(kept), fresh.end());
  }
  if (longest_line_ >= LineCount()) longest_line_ = 0;
  if (stale_bytes_ > std::max(live_bytes_, kBlockBytes * 4)) Pack();
  return after;
}

void LogText::Pack() {
  auto old_blocks = std::move(blocks_);
  blocks_.clear();
  block_sizes_.clear();
  used_ = kBlockBytes;
  current_ = 0;
  live_bytes_ = 0;
  stale_bytes_ = 0;
  for (LineRef& r : lines_) {
    if (r.bytes == 0) continue;
    r = Store(QString::fromUtf8(old_blocks[r.block].get() + r.offset, r.bytes));
  }
}

QString LogText::Text(LogPos from, LogPos to) const {
  from = Clamp(from);
  to = Clamp(to);
  if (to < from) std::swap(from, to);
  if (from.line == to.line) return Line(from.line).mid(from.column, to.column - from.column);
  QString out;
  out.reserve(static_cast<qsizetype>(std::min<qsizetype>(Offset(to) - Offset(from), qsizetype{1} << 30)));
  out += QStringView(Line(from.line)).mid(from.column);
  for (qsizetype i = from.line + 1; i < to.line; ++i) {
    out += u'\n';
    const LineRef& r = lines_[static_cast<std::size_t>(i)];
    if (r.bytes == 0) continue;
    const qsizetype at = out.size();
    out.resize(at + r.units);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QChar* end = utf8.appendToBuffer(out.data() + at, QByteArrayView(blocks_[r.block].get() + r.offset, r.bytes));
    out.truncate(end - out.constData());
  }
  out += u'\n';
  out += QStringView(Line(to.line)).left(to.column);
  return out;
}

qsizetype LogText::Offset(LogPos p) const {
  p = Clamp(p);
  qsizetype offset = p.column;
  for (qsizetype i = 0; i < p.line; ++i) offset += lines_[static_cast<std::size_t>(i)].units + 1;
  return offset;
}

LogPos LogText::PosAt(qsizetype offset) const {
  offset = std::clamp<qsizetype>(offset, 0, size_);
  qsizetype line = 0;
  while (line + 1 < LineCount() && offset > LineLength(line)) {
    offset -= LineLength(line) + 1;
    ++line;
  }
  return {line, std::min(offset, LineLength(line))};
}

std::optional<LogPos> LogText::Find(const QString& needle, LogPos from, bool backwards) const {
  if (needle.isEmpty()) return std::nullopt;
  from = Clamp(from);
  std::optional<Utf8Needle> utf8;
  if (Utf8Needle::Fits(needle)) utf8.emplace(needle);
  // Where the needle starts in `line` at or after `column`, or at or before it when
  // `last` (-1 for the line's end); -1 when it is not there.
  auto search = [&](qsizetype line, qsizetype column, bool last) -> qsizetype {
    if (!utf8) {
      const QString s = Line(line);
      return last ? s.lastIndexOf(needle, column, Qt::CaseInsensitive) : s.indexOf(needle, column, Qt::CaseInsensitive);
    }
    const QByteArrayView bytes = LineBytes(line);
    const bool plain = bytes.size() == LineLength(line);  // ASCII only: bytes are columns
    auto to_column = [&](qsizetype byte) { return plain ? byte : QString::fromUtf8(bytes.first(byte)).size(); };
    auto to_byte = [&](qsizetype col) { return plain ? col : Line(line).first(col).toUtf8().size(); };
    if (!last) {
      const qsizetype at = utf8->In(bytes, column == 0 ? 0 : to_byte(column));
      return at < 0 ? -1 : to_column(at);
    }
    qsizetype found = -1;
    for (qsizetype at = utf8->In(bytes, 0); at >= 0; at = utf8->In(bytes, at + 1)) {
      const qsizetype c = to_column(at);
      if (column >= 0 && c > column) break;
      found = c;
    }
    return found;
  };
  const qsizetype n = LineCount();
  // The start line comes round once more at the end, for the matches before the start.
  if (!backwards) {
    for (qsizetype k = 0; k <= n; ++k) {
      const qsizetype line = (from.line + k) % n;
      const qsizetype at = search(line, k == 0 ? from.column : 0, false);
      if (at >= 0) return LogPos{line, at};
    }
    return std::nullopt;
  }
  for (qsizetype k = 0; k <= n; ++k) {
    const qsizetype line = ((from.line - k) % n + n) % n;
    if (k == 0 && from.column == 0) continue;
    const qsizetype at = search(line, k == 0 ? from.column - 1 : -1, true);
    if (at >= 0) return LogPos{line, at};
  }
  return std::nullopt;
}

std::size_t LogText::Footprint() const {
  std::size_t bytes = lines_.capacity() * sizeof(LineRef) + blocks_.capacity() * sizeof(blocks_[0]) +
                      block_sizes_.capacity() * sizeof(std::size_t);
  for (std::size_t s : block_sizes_) bytes += s;
  return bytes;
}

}  // namespace velmora
