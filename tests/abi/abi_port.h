// A host's port object reduced to a script, written against the C ABI of
// da30.h alone, so that the same object serves the 32-bit static build, the
// native build and the Windows DLL loaded under wine.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/frames.h"
#include "zarvo/da30.h"

namespace zarvo::abi {

using testing::Bytes;
using testing::ReplyFrame;

// One call the driver made on the port object, arguments as received.
struct PortCall {
  std::string op;
  std::uint32_t line = 0;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  bool operator==(const PortCall&) const = default;
};

class AbiPort {
 public:
  // How the port calls the driver's reply check; the 32-bit test routes this
  // through its own call that checks the stack.
  using CheckCaller =
      std::function<std::uint32_t(zarvo_reply_check check, void* context, std::uint32_t line,
                                  const std::uint8_t* rxbuf, const std::uint8_t* stored)>;

  AbiPort();
  AbiPort(const AbiPort&) = delete;
  AbiPort& operator=(const AbiPort&) = delete;

  zarvo_port* port() { return &object_.base; }

  // The next exchange receives this frame byte by byte.
  void answer(Bytes frame) { script_.push_back({std::move(frame), 0}); }
  // The next exchange stores nothing and returns result.
  void fail(std::int32_t result) { script_.push_back({{}, result}); }
  // The next exchange throws a host exception out of SendAndReceive.
  void raise() { script_.push_back({{}, 0, true}); }
  bool script_done() const { return script_.empty(); }

  // Payloads of the frames sent (SYN bytes and CRC removed), in order.
  const std::vector<Bytes>& sent() const { return sent_; }
  // Every call on the port except the exchanges themselves.
  const std::vector<PortCall>& calls() const { return calls_; }
  // Breaches of the port contract seen so far (a bad frame, wrong constants).
  const std::vector<std::string>& problems() const { return problems_; }
  void clear_record();

  std::int32_t rx_state() const { return rx_state_; }
  void set_rx_state(std::int32_t state) { rx_state_ = state; }
  std::int32_t configure_result = 0;
  bool configure_raises = false;
  std::int32_t line_result = 0;
  CheckCaller check_caller;

 private:
  struct Step {
    Bytes frame;
    std::int32_t result;
    bool raise = false;
  };
  struct Object {
    zarvo_port base;
    AbiPort* self;
  };

  static AbiPort& of(zarvo_port* port);
  static void ZARVO_STDCALL Unused(zarvo_port* port);
  static std::int32_t ZARVO_STDCALL GetLineResult(zarvo_port* port, std::uint32_t line);
  static void ZARVO_STDCALL SetReplyCode(zarvo_port* port, std::uint32_t line, std::uint32_t code);
  static void ZARVO_STDCALL SetRxState(zarvo_port* port, std::uint32_t line, std::uint32_t state);
  static std::int32_t ZARVO_STDCALL GetRxState(zarvo_port* port, std::uint32_t line);
  static std::int32_t ZARVO_STDCALL SendAndReceive(zarvo_port* port, std::uint32_t line,
                                                   const std::uint8_t* txbuf, std::uint32_t txlen,
                                                   std::uint8_t* rxbuf, std::uint32_t arg42,
                                                   std::uint32_t syn);
  static std::int32_t ZARVO_STDCALL ConfigureLine(zarvo_port* port, std::uint32_t line,
                                                  std::uint32_t mode, std::uint32_t baud);
  static void ZARVO_STDCALL SetReplyCheck(zarvo_port* port, std::uint32_t line,
                                          zarvo_reply_check check, void* context);
  static const zarvo_port_ops kOps;

  std::int32_t exchange(std::uint32_t line, const std::uint8_t* txbuf, std::uint32_t txlen,
                        std::uint8_t* rxbuf);

  Object object_;
  std::deque<Step> script_;
  std::vector<Bytes> sent_;
  std::vector<PortCall> calls_;
  std::vector<std::string> problems_;
  std::int32_t rx_state_ = 0;
  zarvo_reply_check check_ = nullptr;
  void* check_context_ = nullptr;
};

}  // namespace zarvo::abi
