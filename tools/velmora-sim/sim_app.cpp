#include "sim_app.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "serial_side.h"
#include "udp_side.h"

namespace velmora::sim {

SimApp::SimApp(SimOptions options, std::FILE* out) : options_(std::move(options)), out_(out) { clock_.start(); }

SimApp::~SimApp() { Stop(); }

void SimApp::Log(const std::string& where, const std::string& line) {
  std::fprintf(out_, "%9.3f %s %s\n", static_cast<double>(Now()) / 1e9, where.c_str(), line.c_str());
  std::fflush(out_);
}

LinkContext SimApp::Context() {
  return LinkContext{clock_, *device_, counts_,
                     [this](const std::string& where, const std::string& line) { Log(where, line); },
                     options_.delay_ms * kMilli};
}

bool SimApp::Start(QString* error) {
  RecordStore records;
  if (!options_.device.state_path.isEmpty() && !records.Load(options_.device.state_path, error)) return false;
  device_ = std::make_unique<Device>(options_.device, records, counts_,
                                     [this](const std::string& where, const std::string& line) { Log(where, line); });

  if (options_.serial) {
    serial_ = std::make_unique<SerialSide>(Context(), options_.baud);
    const bool ok = options_.serial_path.isEmpty() ? serial_->OpenPty(error)
                                                   : serial_->OpenDevice(options_.serial_path, error);
    if (!ok) return false;
    if (!options_.link_path.isEmpty()) {
      const QByteArray link = options_.link_path.toLocal8Bit();
      struct stat st;
      if (lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
          *error = QStringLiteral("%1 exists and is not a symbolic link; it is left alone").arg(options_.link_path);
          return false;
        }
        ::unlink(link.constData());
      }
      if (::symlink(serial_->Path().toLocal8Bit().constData(), link.constData()) != 0) {
        *error = QStringLiteral("cannot make the link %1: %2")
                     .arg(options_.link_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
      }
      link_made_ = true;
    }
  }
  if (options_.udp) {
    udp_ = std::make_unique<UdpSide>(Context());
    if (!udp_->Open(options_.udp_address, options_.udp_port, error)) return false;
  }

  if (serial_) {
    std::fprintf(out_, "serial: %s%s\n", serial_->Path().toLocal8Bit().constData(),
                 options_.baud > 0 ? (" at " + std::to_string(options_.baud) + " baud").c_str() : "");
    if (link_made_)
      std::fprintf(out_, "link: %s -> %s\n", options_.link_path.toLocal8Bit().constData(),
                   serial_->Path().toLocal8Bit().constData());
  }
  if (udp_) std::fprintf(out_, "udp: %s\n", udp_->Where().toLocal8Bit().constData());
  std::fprintf(out_, "ready\n");
  std::fflush(out_);
  return true;
}

void SimApp::Stop() {
  if (serial_) {
    if (link_made_) {
      // Only our own link: something else may have taken the path meanwhile.
      const QByteArray link = options_.link_path.toLocal8Bit();
      char target[4096];
      const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
      if (n > 0 && QByteArray(target, static_cast<qsizetype>(n)) == serial_->Path().toLocal8Bit())
        ::unlink(link.constData());
      link_made_ = false;
    }
    serial_->Close();
  }
  if (udp_) udp_->Close();
}

void SimApp::PrintCounts() {
  Counters all = counts_;
  if (serial_ && serial_->NoiseBytes() > 0) all.Add("noise-bytes", serial_->NoiseBytes());
  std::fprintf(out_, "counts:\n");
  for (const auto& [name, value] : all.All())
    std::fprintf(out_, "  %s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
  std::fflush(out_);
}

}  // namespace velmora::sim
