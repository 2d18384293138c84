#include "protocol/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmora {

#ifdef Q_OS_WIN
// Windows converts GBK (its CP936) itself; Qt there may be built without ICU.
std::string ToGbk(const QString& text) {
  if (text.isEmpty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.utf16());
  const int n = WideCharToMultiByte(936, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(936, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

QString FromGbk(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return {};
  const auto* src = reinterpret_cast<const char*>(bytes.data());
  const int n = MultiByteToWideChar(936, 0, src, static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, src, static_cast<int>(bytes.size()), w.data(), n);
  return QString::fromStdWString(w);
}
#else
std::string ToGbk(const QString& text) {
  QStringEncoder enc("GBK");
  const QByteArray b = enc.encode(text);
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString FromGbk(std::span<const uint8_t> bytes) {
  // The decoder keeps a trailing half character as pending state and drops it; a final
  // zero byte ends that sequence, so it shows as U+FFFD instead of vanishing.
  QByteArray b(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  b.append('\0');
  QStringDecoder dec("GBK");
  QString text = dec.decode(b);
  text.chop(1);
  return text;
}
#endif

QString FromGbk(const std::string& bytes) {
  return FromGbk(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::size_t GbkLength(const QString& text) { return ToGbk(text).size(); }

QString TruncateToGbkBytes(const QString& text, std::size_t max_bytes) {
  if (GbkLength(text) <= max_bytes) return text;
  QString out;
  std::size_t used = 0;
  for (qsizetype i = 0; i < text.size();) {
    // Keep surrogate pairs together.
    const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    const QString ch = text.mid(i, len);
    const std::size_t n = GbkLength(ch);
    if (used + n > max_bytes) break;
    out += ch;
    used += n;
    i += len;
  }
  return out;
}

}  // namespace velmora
