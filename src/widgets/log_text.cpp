#include "widgets/log_text.h"

#include <QStringConverter>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VELMORA_LOG_SSE2
#endif

namespace velmora {

namespace {

// One huge page: a long log fills hundreds of these, and taking their memory a small page at
// a time cost more than everything else an entry needs.
constexpr std::size_t kBlockBytes = std::size_t{2} << 20;
// Longer lines get a block of their own, so short ones never leave much of a block unused.
constexpr std::size_t kOwnBlockBytes = kBlockBytes / 8;
constexpr std::size_t kPopulateBytes = std::size_t{64} << 10;
// Bytes of replaced lines left behind before the store is packed, however small the text.
constexpr std::size_t kStaleSlackBytes = std::size_t{4} << 20;

// Where the next line break (CR or LF) is at or after `from`, or the size: one pass over
// the text, where looking for each of the two reads it twice.
qsizetype NextBreak(QStringView s, qsizetype from) {
  const char16_t* p = s.utf16();
  const qsizetype n = s.size();
#ifdef VELMORA_LOG_SSE2
  // Units up to CR (0x0D) stand out; the only others are rare control characters.
  const __m128i cr = _mm_set1_epi16(0x0D);
  for (; from + 8 <= n; from += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from));
    auto low = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(v, cr), _mm_setzero_si128())));
    while (low != 0) {
      const int unit = std::countr_zero(low) / 2;
      if (p[from + unit] == u'\r' || p[from + unit] == u'\n') return from + unit;
      low &= ~(3u << (2 * unit));
    }
  }
#endif
  for (; from < n; ++from) {
    if (p[from] == u'\r' || p[from] == u'\n') return from;
  }
  return n;
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
#ifdef VELMORA_LOG_SSE2
    // Sixteen places at a time: those whose first and last byte fit are checked whole. The
    // filter folds more than letters (0x40 to 0x60, ...); the check sorts those out.
    if (m > 1) {
      const __m128i first = _mm_set1_epi8(needle_[0]);
      const __m128i last = _mm_set1_epi8(needle_[m - 1]);
      const __m128i first_fold = _mm_set1_epi8(IsLetter(needle_[0]) ? 0x20 : 0);
      const __m128i last_fold = _mm_set1_epi8(IsLetter(needle_[m - 1]) ? 0x20 : 0);
      for (; from + m - 1 + 16 <= text.size(); from += 16) {
        const __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + from)), first_fold);
        const __m128i b =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + from + m - 1)), last_fold);
        auto hits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (hits != 0) {
          const int bit = std::countr_zero(hits);
          if (Matches(t + from + bit)) return from + bit;
          hits &= hits - 1;
        }
      }
    }
#endif
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
  static bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }  // of the folded needle
  // Whether the needle, in any letter case, starts at `at`.
  bool Matches(const char* at) const {
    for (qsizetype k = 0; k < needle_.size(); ++k) {
      if (Fold(at[k]) != needle_[k]) return false;
    }
    return true;
  }
  QByteArray needle_;
  std::size_t skip_[256];
};

// Makes the pages of [from, to) present in one call, for a block that did not get a huge
// page: filled a line at a time, each small page would otherwise cost a fault of its own,
// and a long log touches hundreds of thousands of them. A little at a time, just ahead of
// the lines, so the pages are still in the cache when the lines are written.
void Populate(char* from, char* to) {
#ifdef MADV_POPULATE_WRITE
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
  const auto last = reinterpret_cast<std::uintptr_t>(to) & ~(page - 1);
  // Older systems refuse the advice; the pages then come as they are written.
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)from;
  (void)to;
#endif
}

}  // namespace

void LogText::BlockFree::operator()(char* p) const {
#ifdef Q_OS_LINUX
  if (mapped != 0) {
    munmap(p, mapped);
    return;
  }
#endif
  delete[] p;
}

LogText::Block LogText::NewBlock(std::size_t bytes, bool shared) {
#ifdef Q_OS_LINUX
  if (shared) {
    // Mapped on its own and aligned, so the kernel can give it one huge page.
    const std::size_t span = bytes + kBlockBytes;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw != MAP_FAILED) {
      const auto begin = reinterpret_cast<std::uintptr_t>(raw);
      const std::uintptr_t aligned = (begin + kBlockBytes - 1) & ~(kBlockBytes - 1);
      if (aligned > begin) munmap(raw, aligned - begin);
      const std::uintptr_t end = aligned + bytes;
      if (begin + span > end) munmap(reinterpret_cast<void*>(end), begin + span - end);
      auto* block = reinterpret_cast<char*>(aligned);
#ifdef MADV_HUGEPAGE
      (void)madvise(block, bytes, MADV_HUGEPAGE);  // only advice: small pages work as well
#endif
      return Block(block, BlockFree{bytes});
    }
  }
#else
  (void)shared;
#endif
  return Block(new char[bytes]);
}

LogText::LogText() { Clear(); }

void LogText::Clear() {
  blocks_.clear();
  block_sizes_.clear();
  current_ = 0;
  used_ = kBlockBytes;  // the first short line opens a block
  populated_ = 0;
  lines_.assign(1, LineRef{0, 0, 0, 0});
  lines_.shrink_to_fit();
  staged_.clear();
  staged_.shrink_to_fit();
  size_ = 0;
  longest_ = 0;
  longest_line_ = 0;
  stale_bytes_ = 0;
  live_bytes_ = 0;
}

QString LogText::Decode(const LineRef& r) const {
  if (r.bytes == 0) return {};
  return QString::fromUtf8(blocks_[r.block].get() + r.offset, r.bytes);
}

QString LogText::Line(qsizetype i) const { return Decode(lines_[static_cast<std::size_t>(i)]); }

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
    Block block = NewBlock(static_cast<std::size_t>(bytes.size()), false);
    std::memcpy(block.get(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    blocks_.push_back(std::move(block));
    block_sizes_.push_back(static_cast<std::size_t>(bytes.size()));
    live_bytes_ += static_cast<std::size_t>(bytes.size());
    return {static_cast<std::uint32_t>(blocks_.size() - 1), 0, static_cast<std::uint32_t>(bytes.size()), units};
  }
  if (blocks_.empty() || used_ + worst > block_sizes_[current_]) {
    blocks_.push_back(NewBlock(kBlockBytes, true));
    block_sizes_.push_back(kBlockBytes);
    current_ = blocks_.size() - 1;
    used_ = 0;
    populated_ = 0;
  }
  char* block = blocks_[current_].get();
  if (used_ + worst > populated_) {
    const std::size_t to = std::min(kBlockBytes, std::max(used_ + worst, populated_ + kPopulateBytes));
    Populate(block + populated_, block + to);
    populated_ = to;
  }
  char* start = block + used_;
  char* end = utf8.appendToBuffer(start, line);
  const auto bytes = static_cast<std::uint32_t>(end - start);
  const LineRef ref{static_cast<std::uint32_t>(current_), static_cast<std::uint32_t>(used_), bytes, units};
  used_ += bytes;
  live_bytes_ += bytes;
  return ref;
}

void LogText::Append(QStringView text) {
  Stage(text);
  Commit();
}

void LogText::Stage(QStringView text) {
  // staged_[0] is what goes on the end of the last line; each line end starts another.
  if (staged_.empty()) staged_.push_back(LineRef{0, 0, 0, 0});
  qsizetype start = 0;
  const qsizetype n = text.size();
  while (true) {
    const qsizetype brk = NextBreak(text, start);
    if (brk > start) {
      // The segment continues the last line, which is usually still empty.
      LineRef& last = staged_.back();
      const QStringView segment = text.mid(start, brk - start);
      if (last.units == 0) {
        last = Store(segment);
      } else {
        QString joined = Decode(last);
        joined += segment;
        stale_bytes_ += last.bytes;
        live_bytes_ -= last.bytes;
        staged_.back() = Store(joined);
      }
    }
    if (brk >= n) break;
    start = brk + ((text[brk] == u'\r' && brk + 1 < n && text[brk + 1] == u'\n') ? 2 : 1);
    staged_.push_back(LineRef{0, 0, 0, 0});
  }
  if (stale_bytes_ > std::max(live_bytes_, kStaleSlackBytes)) Pack();
}

void LogText::Commit() {
  if (staged_.empty()) return;
  const auto measure = [this](qsizetype line) {
    if (lines_[static_cast<std::size_t>(line)].units > longest_) {
      longest_ = lines_[static_cast<std::size_t>(line)].units;
      longest_line_ = line;
    }
  };
  const LineRef head = staged_.front();
  if (head.units > 0) {
    LineRef& last = lines_.back();
    if (last.units == 0) {
      last = head;
    } else {
      QString joined = Decode(last);
      joined += Decode(head);
      stale_bytes_ += last.bytes + head.bytes;
      live_bytes_ -= last.bytes + head.bytes;
      lines_.back() = Store(joined);
    }
    size_ += head.units;
    measure(LineCount() - 1);
  }
  for (std::size_t i = 1; i < staged_.size(); ++i) {
    lines_.push_back(staged_[i]);
    size_ += 1 + staged_[i].units;
    measure(LineCount() - 1);
  }
  staged_.clear();
  if (stale_bytes_ > std::max(live_bytes_, kStaleSlackBytes)) Pack();
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
  if (stale_bytes_ > std::max(live_bytes_, kStaleSlackBytes)) Pack();
  return after;
}

void LogText::Pack() {
  auto old_blocks = std::move(blocks_);
  blocks_.clear();
  block_sizes_.clear();
  used_ = kBlockBytes;
  populated_ = 0;
  current_ = 0;
  live_bytes_ = 0;
  stale_bytes_ = 0;
  for (auto* refs : {&lines_, &staged_}) {
    for (LineRef& r : *refs) {
      if (r.bytes == 0) continue;
      r = Store(QString::fromUtf8(old_blocks[r.block].get() + r.offset, r.bytes));
    }
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
  std::size_t bytes = (lines_.capacity() + staged_.capacity()) * sizeof(LineRef) +
                      blocks_.capacity() * sizeof(blocks_[0]) + block_sizes_.capacity() * sizeof(std::size_t);
  for (std::size_t s : block_sizes_) bytes += s;
  return bytes;
}

}  // namespace velmora
