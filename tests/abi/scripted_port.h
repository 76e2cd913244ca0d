// A host's port object and menu reduced to a script, written against the C
// ABI of da30.h alone, so that the same objects serve the 32-bit static build,
// the native build and the Windows DLL loaded under wine.
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

class ScriptedPort {
 public:
  // How the port calls the driver's reply check; the 32-bit test routes this
  // through its own call that checks the stack.
  using CheckCaller =
      std::function<std::uint32_t(zarvo_reply_check check, void* context, std::uint32_t line,
                                  const std::uint8_t* rxbuf, const std::uint8_t* stored)>;

  ScriptedPort();
  ScriptedPort(const ScriptedPort&) = delete;
  ScriptedPort& operator=(const ScriptedPort&) = delete;

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
    ScriptedPort* self;
  };

  static ScriptedPort& of(zarvo_port* port);
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

// A host's menu: a root whose children the driver searches, and the factory
// the driver calls to add its entry.
class HostMenu {
 public:
  struct Item;
  // What the driver holds: the ABI's item with a way back to ours.
  struct Handle {
    zarvo_menu_item base;
    Item* self;
  };
  struct Item {
    Handle handle;
    HostMenu* owner;
    std::string caption;
    std::string hint;
    std::int32_t help_context = 0;
    std::uint32_t shortcut = 0;
    zarvo_menu_click on_click = nullptr;
    void* click_context = nullptr;
    std::vector<Item*> children;
  };

  HostMenu();
  HostMenu(const HostMenu&) = delete;
  HostMenu& operator=(const HostMenu&) = delete;

  zarvo_menu_item* root() { return &root_->handle.base; }
  Item& add_child(Item& parent, std::string caption);
  Item& root_item() { return *root_; }
  // Items the driver asked the factory for, with the index it passed.
  const std::vector<std::pair<Item*, std::int32_t>>& created() const { return created_; }

  static zarvo_menu_item* ZARVO_STDCALL NewItem(zarvo_menu_item* parent, std::int32_t index);

 private:
  static Item& of(zarvo_menu_item* item);
  static std::int32_t ZARVO_STDCALL GetCount(zarvo_menu_item* item);
  static zarvo_menu_item* ZARVO_STDCALL GetItem(zarvo_menu_item* item, std::int32_t index);
  static const char* ZARVO_STDCALL GetCaption(zarvo_menu_item* item);
  static void ZARVO_STDCALL SetCaption(zarvo_menu_item* item, const char* caption);
  static void ZARVO_STDCALL SetHint(zarvo_menu_item* item, const char* hint);
  static void ZARVO_STDCALL SetHelpContext(zarvo_menu_item* item, std::int32_t help_context);
  static void ZARVO_STDCALL SetShortCut(zarvo_menu_item* item, std::uint32_t shortcut);
  static void ZARVO_STDCALL SetOnClick(zarvo_menu_item* item, zarvo_menu_click handler,
                                       void* context);
  static const zarvo_menu_item_ops kOps;

  Item& make(std::string caption);

  std::vector<std::unique_ptr<Item>> items_;
  Item* root_;
  std::vector<std::pair<Item*, std::int32_t>> created_;
};

}  // namespace zarvo::abi
