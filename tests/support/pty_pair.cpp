#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace velmora::test {

namespace {

void MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

PtyPair::PtyPair() {
  std::array<char, 128> name{};
  if (::openpty(&master_, &slave_, name.data(), nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  MakeRaw(master_);
  MakeRaw(slave_);
  SetNonBlocking(master_);
  SetNonBlocking(slave_);
  slave_path_ = QString::fromLocal8Bit(name.data());
}

PtyPair::~PtyPair() {
  if (slave_ >= 0) {
    StartOutput();
    ::close(slave_);
  }
  CloseMaster();
}

bool PtyPair::WriteMaster(std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 2000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> PtyPair::ReadMaster(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::array<uint8_t, 4096> buf;
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(master_, buf.data(), std::min(buf.size(), count - out.size()));
    if (n > 0) out.insert(out.end(), buf.begin(), buf.begin() + n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
  }
  return out;
}

std::vector<uint8_t> PtyPair::DrainMaster(std::chrono::milliseconds quiet) {
  std::vector<uint8_t> out;
  std::array<uint8_t, 4096> buf;
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
    const ssize_t n = ::read(master_, buf.data(), buf.size());
    if (n <= 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

int PtyPair::ReleaseMaster() {
  const int fd = master_;
  master_ = -1;
  return fd;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::size_t PtyPair::FillFromSlave() {
  std::array<uint8_t, 4096> buf;
  buf.fill(0x55);
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = ::write(slave_, buf.data(), buf.size());
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

void PtyPair::StopOutput() { ::tcflow(slave_, TCOOFF); }
void PtyPair::StartOutput() { ::tcflow(slave_, TCOON); }

}  // namespace velmora::test
