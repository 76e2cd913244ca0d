// A host port object for tests: records every frame it is given, and answers
// each with the next scripted reply, stored byte by byte with the registered
// check consulted after each byte, like a real port. It follows the port
// contract and no further: whatever reply the check accepts is handed to the
// driver, whichever pump sent it.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tests/support/frames.h"
#include "tests/support/port_adapter.h"
#include "zarvo/da30.h"

namespace zarvo::testing {

class ScriptedPort {
 public:
  // What SendAndReceive returns when the check never accepted, or nothing came.
  static constexpr std::int32_t kNoReply = 5;

  ScriptedPort();
  ScriptedPort(const ScriptedPort&) = delete;
  ScriptedPort& operator=(const ScriptedPort&) = delete;

  zarvo_port* port() { return adapter_.port(); }

  // The next exchange gets these bytes; the result is 0 once the check accepts,
  // kNoReply otherwise, unless a result is forced.
  ScriptedPort& reply(Bytes bytes);
  ScriptedPort& reply_with_result(Bytes bytes, std::int32_t result);
  // The next exchange stores nothing and returns kNoReply (or the given code).
  ScriptedPort& silence(std::int32_t result = kNoReply);
  // The next exchange raises; GetLineResult then reports line_result.
  ScriptedPort& raise(std::int32_t line_result);

  // With no script left, an "L" acknowledgement is answered with "Q0".
  bool auto_ack = true;

  // Every frame handed to SendAndReceive, and its payload (between SYNs and CRC).
  std::vector<Bytes> frames;
  Bytes payload(std::size_t index) const;
  std::vector<Bytes> payloads() const;
  // Frames other than acknowledgements, and the acknowledgements alone.
  std::vector<Bytes> command_payloads() const;
  std::vector<Bytes> acknowledgements() const;

  // Calls the driver made, in order, as text: "SetReplyCode(1,246)" and so on.
  std::vector<std::string> calls;
  std::int32_t rx_state = 0;  // what GetRxState answers, and SetRxState records
  std::int32_t line_result = 0;
  std::int32_t configure_result = 0;
  // The entry, by name ("GetRxState"), that throws a host exception when called.
  std::string throws_in;
  // The counts the check was called with during the last exchange.
  std::vector<std::uint8_t> check_counts;
  std::vector<bool> check_answers;

 private:
  struct Step {
    enum class Kind { kReply, kSilence, kRaise } kind;
    Bytes bytes;
    std::int32_t result;
    bool forced_result;
  };

  friend class PortAdapter<ScriptedPort>;
  std::int32_t GetLineResult(std::uint32_t line);
  void SetReplyCode(std::uint32_t line, std::uint32_t code);
  void SetRxState(std::uint32_t line, std::uint32_t state);
  std::int32_t GetRxState(std::uint32_t line);
  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t* tx, std::uint32_t len,
                              std::uint8_t* rx, std::uint32_t arg42, std::uint32_t syn);
  std::int32_t ConfigureLine(std::uint32_t line, std::uint32_t mode, std::uint32_t baud);
  void SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context);

  PortAdapter<ScriptedPort> adapter_{*this};
  std::deque<Step> script_;
  zarvo_reply_check check_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace zarvo::testing
