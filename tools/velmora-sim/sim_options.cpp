#include "sim_options.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <cctype>
#include <limits>

#include "protocol/gbk.h"

namespace velmora::sim {

namespace {

struct Opt {
  const char* name;
  const char* value;  // nullptr: a flag
  const char* help;
};

const Opt kOptions[] = {
    {"serial", "PATH", "Serve this serial device instead of a pseudo-terminal."},
    {"link", "PATH", "Keep a symbolic link PATH to the pseudo-terminal."},
    {"baud", "N", "Model an N-baud line (10 bits a byte) both ways:\nframes count from their last byte's arrival,\nreplies leave at the line rate."},
    {"no-serial", nullptr, "No serial side."},
    {"udp-address", "A", "Listen for UDP on address A (default 127.0.0.1;\n0.0.0.0: every address, broadcasts included)."},
    {"udp-port", "N", "Listen for UDP on port N (default 21; 0: any free)."},
    {"no-udp", nullptr, "No UDP side."},
    {"state", "FILE", "Keep the configuration and MQTT records in FILE."},
    {"image-out", "FILE", "Write each accepted firmware image to FILE."},
    {"version", "TEXT", "Answer the version query with TEXT."},
    {"version-after-upgrade", "TEXT", "Answer the version query with TEXT once a firmware\nimage has been accepted (the new firmware's version)."},
    {"restart-ms", "N", "After accepting a firmware image, hear and send\nnothing for N ms (the device restarts)."},
    {"mac", "M", "The device's MAC in its configuration record at\npower-on, six hex bytes XX:XX:XX:XX:XX:XX; it wins\nover the --state file at start, and a write from\nthe tool replaces it."},
    {"local-ip", "A", "The device's own IPv4 address A.B.C.D in its\nconfiguration record at power-on; like --mac it\nwins over the --state file at start."},
    {"csq", "N", "Answer the CSQ query with N (0..255, default 23)."},
    {"delay-ms", "N", "Wait N ms before each reply."},
    {"drop-every", "N", "Drop every Nth reply."},
    {"xerr-end", nullptr, "Answer XERR to every firmware end frame."},
    {"ok-end", nullptr, "Answer OK to every firmware end frame, never YES\nor XERR: the image is never judged."},
    {"silent", nullptr, "Act on every frame but send nothing back."},
    {"interleave-text", "N", "Send a short text line after every Nth reply."},
};

constexpr int kHelpColumn = 24;

const char kIntro[] =
    "Usage: velmora-sim [options]\n"
    "Plays the device side of the Velmora link: answers Command frames with Reply\n"
    "frames over a pseudo-terminal (its path is printed first) and over UDP, takes\n"
    "firmware uploads, and prints one line per frame and the counts on exit (Ctrl-C).\n\n";

std::optional<int> Int(const QCommandLineParser& p, const char* name, int lo, int hi, QString* error) {
  bool ok = false;
  const int v = p.value(QString::fromLatin1(name)).toInt(&ok);
  if (ok && v >= lo && v <= hi) return v;
  *error = QStringLiteral("--%1 takes a whole number from %2 to %3").arg(QLatin1String(name)).arg(lo).arg(hi);
  return std::nullopt;
}

// Four decimal parts 0..255, nothing else: QHostAddress would also take "10.1" or "1".
std::optional<Ipv4Octets> DottedQuad(const QString& text) {
  const QStringList parts = text.split(QLatin1Char('.'));
  if (parts.size() != 4) return std::nullopt;
  Ipv4Octets ip{};
  for (int i = 0; i < 4; ++i) {
    const QString& part = parts[i];
    bool ok = part.size() >= 1 && part.size() <= 3;
    for (QChar c : part) ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int v = part.toInt();
    if (!ok || v > 255) return std::nullopt;
    ip[static_cast<std::size_t>(i)] = static_cast<uint8_t>(v);
  }
  return ip;
}

// Six pairs of hex digits apart by ':' (or '-').
std::optional<MacBytes> MacAddress(const QString& text) {
  const QStringList parts = QString(text).replace(QLatin1Char('-'), QLatin1Char(':')).split(QLatin1Char(':'));
  if (parts.size() != static_cast<qsizetype>(kMacBytes)) return std::nullopt;
  MacBytes mac{};
  for (std::size_t i = 0; i < kMacBytes; ++i) {
    const QString& part = parts[static_cast<qsizetype>(i)];
    bool ok = part.size() == 2;
    for (QChar c : part) ok = ok && c.unicode() < 128 && std::isxdigit(c.unicode());
    if (!ok) return std::nullopt;
    mac[i] = static_cast<uint8_t>(part.toUInt(nullptr, 16));
  }
  return mac;
}

// Device texts travel in GBK, as the tool reads them.
std::optional<std::string> DeviceText(const QString& text, const char* name, QString* error) {
  std::string v = ToGbk(text);
  if (v.size() <= 255) return v;
  *error = QStringLiteral("--%1 takes at most 255 bytes").arg(QLatin1String(name));
  return std::nullopt;
}

}  // namespace

QString SimHelpText() {
  QString text = QString::fromLatin1(kIntro);
  const QString indent = QLatin1String("\n") + QString(kHelpColumn, QLatin1Char(' '));
  for (const Opt& o : kOptions) {
    QString head = QStringLiteral("  --%1").arg(QLatin1String(o.name));
    if (o.value) head += QLatin1Char(' ') + QLatin1String(o.value);
    // A head too long for its column takes a line of its own.
    head = head.size() < kHelpColumn ? head.leftJustified(kHelpColumn) : head + indent;
    text += head + QString::fromLatin1(o.help).replace(QLatin1String("\n"), indent) + QLatin1Char('\n');
  }
  text += QStringLiteral("  --help").leftJustified(kHelpColumn) + QStringLiteral("Show this text.\n");
  return text;
}

ParsedOptions ParseSimOptions(const QStringList& args) {
  QCommandLineParser p;
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  for (const Opt& o : kOptions) {
    if (o.value)
      p.addOption(QCommandLineOption(QString::fromLatin1(o.name), QString(), QString::fromLatin1(o.value)));
    else
      p.addOption(QCommandLineOption(QString::fromLatin1(o.name)));
  }
  p.addOption(QCommandLineOption(QStringList{QStringLiteral("help"), QStringLiteral("h")}));

  ParsedOptions result;
  if (!p.parse(args)) {
    result.error = p.errorText();
    return result;
  }
  if (p.isSet(QStringLiteral("help"))) {
    result.help = true;
    return result;
  }
  if (!p.positionalArguments().isEmpty()) {
    result.error = QStringLiteral("unexpected argument: %1").arg(p.positionalArguments().first());
    return result;
  }

  SimOptions o;
  QString& error = result.error;
  const auto is_set = [&](const char* name) { return p.isSet(QString::fromLatin1(name)); };
  const auto text = [&](const char* name) { return p.value(QString::fromLatin1(name)); };

  o.serial = !is_set("no-serial");
  o.udp = !is_set("no-udp");
  if (!o.serial && !o.udp) {
    error = QStringLiteral("--no-serial and --no-udp together leave nothing to listen on");
    return result;
  }
  o.serial_path = text("serial");
  o.link_path = text("link");
  if (!o.serial && (is_set("serial") || is_set("link") || is_set("baud"))) {
    error = QStringLiteral("--serial, --link and --baud need the serial side");
    return result;
  }
  if (is_set("serial") && o.serial_path.isEmpty()) {
    error = QStringLiteral("--serial needs a device path");
    return result;
  }
  if (!o.serial_path.isEmpty() && !o.link_path.isEmpty()) {
    error = QStringLiteral("--link names our own pseudo-terminal; it does not go with --serial");
    return result;
  }
  if (is_set("link") && o.link_path.isEmpty()) {
    error = QStringLiteral("--link needs a path");
    return result;
  }
  if (is_set("baud")) {
    const auto v = Int(p, "baud", 50, 4'000'000, &error);
    if (!v) return result;
    o.baud = *v;
  }
  if (!o.udp && (is_set("udp-address") || is_set("udp-port"))) {
    error = QStringLiteral("--udp-address and --udp-port need the UDP side");
    return result;
  }
  if (is_set("udp-address")) {
    o.udp_address = text("udp-address");
    if (QHostAddress(o.udp_address).isNull()) {
      error = QStringLiteral("--udp-address takes an IP address, not \"%1\"").arg(o.udp_address);
      return result;
    }
  }
  if (is_set("udp-port")) {
    const auto v = Int(p, "udp-port", 0, 65535, &error);
    if (!v) return result;
    o.udp_port = *v;
  }
  o.device.state_path = text("state");
  o.device.image_path = text("image-out");
  if (is_set("version")) {
    const auto v = DeviceText(text("version"), "version", &error);
    if (!v) return result;
    o.device.version = *v;
  }
  if (is_set("version-after-upgrade")) {
    const auto v = DeviceText(text("version-after-upgrade"), "version-after-upgrade", &error);
    if (!v) return result;
    o.device.version_after_upgrade = *v;
  }
  if (is_set("restart-ms")) {
    const auto v = Int(p, "restart-ms", 0, 600'000, &error);
    if (!v) return result;
    o.device.restart = *v * kMilli;
  }
  if (is_set("mac")) {
    o.device.mac = MacAddress(text("mac"));
    if (!o.device.mac) {
      error = QStringLiteral("--mac takes six hex bytes XX:XX:XX:XX:XX:XX, not \"%1\"").arg(text("mac"));
      return result;
    }
  }
  if (is_set("local-ip")) {
    o.device.local_ip = DottedQuad(text("local-ip"));
    if (!o.device.local_ip) {
      error = QStringLiteral("--local-ip takes an IPv4 address A.B.C.D, not \"%1\"").arg(text("local-ip"));
      return result;
    }
  }
  if (is_set("csq")) {
    const auto v = Int(p, "csq", 0, 255, &error);
    if (!v) return result;
    o.device.csq = static_cast<uint8_t>(*v);
  }
  if (is_set("delay-ms")) {
    const auto v = Int(p, "delay-ms", 0, 600'000, &error);
    if (!v) return result;
    o.delay_ms = *v;
  }
  if (is_set("drop-every")) {
    const auto v = Int(p, "drop-every", 1, std::numeric_limits<int>::max(), &error);
    if (!v) return result;
    o.device.drop_every = *v;
  }
  if (is_set("interleave-text")) {
    const auto v = Int(p, "interleave-text", 1, std::numeric_limits<int>::max(), &error);
    if (!v) return result;
    o.device.interleave_every = *v;
  }
  o.device.xerr_end = is_set("xerr-end");
  o.device.ok_end = is_set("ok-end");
  if (o.device.xerr_end && o.device.ok_end) {
    error = QStringLiteral("--xerr-end and --ok-end are two different answers to the end frame; choose one");
    return result;
  }
  o.device.silent = is_set("silent");
  result.options = std::move(o);
  return result;
}

}  // namespace velmora::sim
