// The host port object's 20-entry table over a plain C++ class, for tests,
// fuzz targets and benchmarks. Impl provides the seven entries the driver
// calls, as member functions with the same names and the line first:
//   GetLineResult(line), SetReplyCode(line, code), SetRxState(line, state),
//   GetRxState(line), SendAndReceive(line, tx, len, rx), ConfigureLine(line,
//   mode, baud), SetReplyCheck(line, check, context).
#pragma once

#include <cstdint>
#include <span>

#include "driver/tvm30.h"
#include "protocol/exchange.h"
#include "zarvo/da30.h"

namespace zarvo::testing {

template <class Impl>
class PortAdapter {
 public:
  explicit PortAdapter(Impl& impl) : handle_{{&kOps}, &impl} {}
  PortAdapter(const PortAdapter&) = delete;
  PortAdapter& operator=(const PortAdapter&) = delete;

  zarvo_port* port() { return &handle_.port; }

 private:
  // What the driver holds: the table pointer first, then the way back.
  struct Handle {
    zarvo_port port;
    Impl* impl;
  };
  static Impl& impl(zarvo_port* p) { return *reinterpret_cast<Handle*>(p)->impl; }

  static void ZARVO_STDCALL unused(zarvo_port*) {}
  static std::int32_t ZARVO_STDCALL get_line_result(zarvo_port* p, std::uint32_t line) {
    return impl(p).GetLineResult(line);
  }
  static void ZARVO_STDCALL set_reply_code(zarvo_port* p, std::uint32_t line, std::uint32_t code) {
    impl(p).SetReplyCode(line, code);
  }
  static void ZARVO_STDCALL set_rx_state(zarvo_port* p, std::uint32_t line, std::uint32_t state) {
    impl(p).SetRxState(line, state);
  }
  static std::int32_t ZARVO_STDCALL get_rx_state(zarvo_port* p, std::uint32_t line) {
    return impl(p).GetRxState(line);
  }
  static std::int32_t ZARVO_STDCALL send_and_receive(zarvo_port* p, std::uint32_t line,
                                                     const std::uint8_t* tx, std::uint32_t len,
                                                     std::uint8_t* rx, std::uint32_t a42,
                                                     std::uint32_t syn) {
    return impl(p).SendAndReceive(line, tx, len, rx, a42, syn);
  }
  static std::int32_t ZARVO_STDCALL configure_line(zarvo_port* p, std::uint32_t line,
                                                   std::uint32_t mode, std::uint32_t baud) {
    return impl(p).ConfigureLine(line, mode, baud);
  }
  static void ZARVO_STDCALL set_reply_check(zarvo_port* p, std::uint32_t line,
                                            zarvo_reply_check check, void* context) {
    impl(p).SetReplyCheck(line, check, context);
  }

  static constexpr zarvo_port_ops kOps = {
      &unused,
      &get_line_result,
      &set_reply_code,
      &set_rx_state,
      &get_rx_state,
      {&unused, &unused, &unused, &unused, &unused, &unused, &unused, &unused, &unused, &unused,
       &unused},
      &send_and_receive,
      &configure_line,
      &unused,
      &set_reply_check,
  };

  Handle handle_;
};

// Calls the registered check after each stored byte, like a real port, and
// tells whether it accepted the reply (at its last byte); `stored`, when
// given, receives how many bytes went into rx.
inline bool StoreUnderCheck(std::span<const std::uint8_t> reply, std::uint8_t* rx,
                            zarvo_reply_check check, void* context, std::uint32_t line,
                            std::size_t* stored = nullptr) {
  const std::size_t count = reply.size() < 255 ? reply.size() : 255;
  for (std::size_t i = 0; i < count; ++i) {
    rx[i] = reply[i];
    const auto last = static_cast<std::uint8_t>(i);
    if ((check(context, line, rx, 0, &last, 0) & 0xFF) != 0) {
      if (stored != nullptr) *stored = i + 1;
      return true;
    }
  }
  if (stored != nullptr) *stored = count;
  return false;
}

// The reply check as a host port calls it, with a TVM30 as its context.
inline std::uint32_t ZARVO_STDCALL CheckWithDriver(void* context, std::uint32_t line,
                                                   const std::uint8_t* rxbuf, std::uint32_t,
                                                   const std::uint8_t* stored, std::uint32_t) {
  auto& driver = *static_cast<TVM30*>(context);
  return driver.CheckReply(static_cast<std::uint8_t>(line),
                           std::span<const std::uint8_t, kFrameBufferSize>(rxbuf, kFrameBufferSize),
                           *stored)
             ? 1
             : 0;
}

}  // namespace zarvo::testing
