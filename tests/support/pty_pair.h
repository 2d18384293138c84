#pragma once
// A pseudo-terminal pair standing in for a serial cable: the tool opens SlavePath() as its
// port, the test plays the device on the master side. Both ends are raw.

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora::test {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && slave_ >= 0; }
  QString SlavePath() const { return slave_path_; }
  int MasterFd() const { return master_; }
  // The test's own descriptor on the port side: for reading the line settings the tool
  // applied, for filling the line, or for stopping its output.
  int SlaveFd() const { return slave_; }

  // Writes every byte to the master side (the device talking).
  bool WriteMaster(std::span<const uint8_t> bytes);
  // Reads from the master side until `count` bytes arrived or `timeout` passed.
  std::vector<uint8_t> ReadMaster(std::size_t count, std::chrono::milliseconds timeout);
  // Reads whatever arrives on the master side within `quiet` of silence.
  std::vector<uint8_t> DrainMaster(std::chrono::milliseconds quiet);

  // The far end goes away: the port side sees a hang-up.
  void CloseMaster();
  // Hands the master descriptor to the caller (to close from another thread).
  int ReleaseMaster();
  // Fills the line from the port side without reading the master: returns the bytes queued.
  std::size_t FillFromSlave();
  // Suspends / resumes output on the port side, as a peer holding XOFF would.
  void StopOutput();
  void StartOutput();

 private:
  int master_ = -1;
  int slave_ = -1;
  QString slave_path_;
};

}  // namespace velmora::test
