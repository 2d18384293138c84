#include "log/log_stamp.h"

namespace velmora {

QString LogStamp(const LocalTime& t) {
  const auto within = [](int v, int most) { return v >= 0 && v <= most; };
  if (!within(t.year, 9999) || !within(t.month, 99) || !within(t.day, 99) || !within(t.hour, 99) ||
      !within(t.minute, 99) || !within(t.second, 99) || !within(t.msec, 999999999)) {
    return QString::asprintf("[%04d-%02d-%02d %02d:%02d:%02d %d] \r\n", t.year, t.month, t.day, t.hour, t.minute,
                             t.second, t.msec);
  }
  // The same text written by hand: every entry takes a stamp, and formatting it the
  // general way cost as much as storing the entry.
  char16_t out[40];
  int n = 0;
  const auto digits = [&](int v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10) out[n + i] = static_cast<char16_t>(u'0' + v % 10);
    n += width;
  };
  out[n++] = u'[';
  digits(t.year, 4);
  out[n++] = u'-';
  digits(t.month, 2);
  out[n++] = u'-';
  digits(t.day, 2);
  out[n++] = u' ';
  digits(t.hour, 2);
  out[n++] = u':';
  digits(t.minute, 2);
  out[n++] = u':';
  digits(t.second, 2);
  out[n++] = u' ';
  int width = 1;
  for (int v = t.msec; v >= 10; v /= 10) ++width;
  digits(t.msec, width);
  for (char16_t c : u"] \r\n") {
    if (c) out[n++] = c;
  }
  return QString(reinterpret_cast<const QChar*>(out), n);
}

}  // namespace velmora
