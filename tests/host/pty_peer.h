// A scripted dispenser on the far side of a pseudo-terminal pair: it reads
// each request frame and answers with the next scripted bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scripted_port.h"

namespace zarvo::host::testing {

using Bytes = std::vector<std::uint8_t>;

// A reply frame: SYN SYN, address, length, type letter, data, CRC low byte first.
inline Bytes reply_frame(std::uint8_t address, char type, const std::string& data) {
  return zarvo::testing::ReplyFrame(address, type, data);
}

struct ScriptedAnswer {
  Bytes bytes;  // empty: stay silent
  std::chrono::milliseconds delay{0};
};

class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& device() const { return device_; }
  void answer(Bytes bytes, std::chrono::milliseconds delay = {});
  // Requests as received, one frame each.
  std::vector<Bytes> requests() const;
  // Blocks until the peer has written `count` answers (or a second passed).
  bool wait_for_answers(std::size_t count) const;

 private:
  void serve();
  bool read_request(Bytes& frame);

  int master_ = -1;
  int slave_ = -1;  // kept open so that the master never sees a hang-up
  std::string device_;
  mutable std::mutex mutex_;
  mutable std::condition_variable answered_cv_;
  std::deque<ScriptedAnswer> script_;
  std::vector<Bytes> requests_;
  std::size_t answered_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zarvo::host::testing
