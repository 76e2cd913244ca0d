// The native runner where there is no Win32: the form drawn on the process's
// controlling terminal with plain ANSI sequences over termios, so the driver
// library needs no terminal library. Without a terminal the user cannot
// confirm, so the showing ends as cancelled.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "codepage/cp1251.h"
#include "forms/modal_runner.h"
#include "forms/terminal_form.h"
#include "forms/terminal_text.h"

namespace zarvo::forms {
namespace {

constexpr auto kKeysHint = cp1251("Tab, стрелки: переход  Пробел: выбор  Enter: OK  Esc: отмена");
// Keys that send escape sequences deliver all their bytes at once; an Esc
// followed by nothing within this time is the Esc key itself.
constexpr int kEscapeSequenceMs = 50;
constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kCtrlC = 0x03;

// The terminal in raw mode on the alternate screen, restored however the
// showing ends.
class RawTerminal {
 public:
  static std::optional<int> Open() {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    return fd;
  }

  explicit RawTerminal(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &raw) != 0) return;
    raw_ = true;
    Write("\x1b[?1049h");
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  ~RawTerminal() {
    if (raw_) {
      Write("\x1b[0m\x1b[?25h\x1b[?1049l");
      ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    ::close(fd_);
  }

  bool Raw() const { return raw_; }

  bool Write(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
  }

  // The next byte, or none when the terminal is gone or timeout_ms passed
  // (a negative timeout waits for ever).
  std::optional<unsigned char> ReadByte(int timeout_ms) const {
    for (;;) {
      pollfd ready{fd_, POLLIN, 0};
      const int got = ::poll(&ready, 1, timeout_ms);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return std::nullopt;
      unsigned char byte = 0;
      const ssize_t n = ::read(fd_, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1) return std::nullopt;
      return byte;
    }
  }

 private:
  int fd_;
  termios saved_{};
  bool raw_ = false;
};

enum class Input { kKey, kIgnored, kClosed };

struct ReadKey {
  Input input;
  Key key = Key::kEscape;
};

ReadKey key_after_escape(const RawTerminal& tty) {
  const auto next = tty.ReadByte(kEscapeSequenceMs);
  if (!next) return {Input::kKey, Key::kEscape};
  if (*next != '[' && *next != 'O') return {Input::kIgnored};
  // Parameters, then the final byte that names the key.
  for (;;) {
    const auto byte = tty.ReadByte(kEscapeSequenceMs);
    if (!byte) return {Input::kIgnored};
    if (*byte >= 0x40 && *byte <= 0x7E) {
      switch (*byte) {
        case 'A':
          return {Input::kKey, Key::kUp};
        case 'B':
          return {Input::kKey, Key::kDown};
        case 'C':
          return {Input::kKey, Key::kRight};
        case 'D':
          return {Input::kKey, Key::kLeft};
        case 'Z':
          return {Input::kKey, Key::kBackTab};
        default:
          return {Input::kIgnored};
      }
    }
  }
}

ReadKey read_key(const RawTerminal& tty) {
  const auto byte = tty.ReadByte(-1);
  if (!byte) return {Input::kClosed};
  switch (*byte) {
    case '\t':
      return {Input::kKey, Key::kTab};
    case ' ':
      return {Input::kKey, Key::kSpace};
    case '\r':
    case '\n':
      return {Input::kKey, Key::kEnter};
    case kCtrlC:
      return {Input::kKey, Key::kEscape};
    case kEsc:
      return key_after_escape(tty);
    default:
      return {Input::kIgnored};
  }
}

void append_position(std::string& out, int row, int col) {
  out += "\x1b[" + std::to_string(row + 1) + ';' + std::to_string(col + 1) + 'H';
}

std::string frame_bytes(const TerminalForm& form, const TerminalEncoder& encoder) {
  const Screen screen = form.Draw();
  std::string out = "\x1b[?25l\x1b[H\x1b[2J";
  for (int row = 0; row < screen.Rows(); ++row) {
    append_position(out, row, 0);
    bool highlight = false;
    for (int col = 0; col < screen.Cols(); ++col) {
      const ScreenCell& cell = screen.At(row, col);
      if (cell.highlight != highlight) {
        out += cell.highlight ? "\x1b[7m" : "\x1b[0m";
        highlight = cell.highlight;
      }
      encoder.Append(out, cell.ch);
    }
    if (highlight) out += "\x1b[0m";
  }
  append_position(out, screen.Rows(), 0);
  for (const char byte : kKeysHint.view()) {
    encoder.Append(out, UnicodeOfCp1251(static_cast<unsigned char>(byte)));
  }
  const ScreenPosition cursor = form.Cursor();
  append_position(out, cursor.row, cursor.col);
  out += "\x1b[?25h";
  return out;
}

class TerminalRunner final : public ModalRunner {
 public:
  ModalResult ShowModal(TForm& form) const override {
    const auto fd = RawTerminal::Open();
    if (!fd) return ModalResult::kCancel;
    const RawTerminal tty(*fd);
    if (!tty.Raw()) return ModalResult::kCancel;

    const TerminalEncoder encoder = TerminalEncoder::ForEnvironment();
    TerminalForm shown(form, encoder.Unicode() ? Glyphs::Unicode() : Glyphs::Ascii());
    for (;;) {
      if (!tty.Write(frame_bytes(shown, encoder))) return ModalResult::kCancel;
      const ReadKey read = read_key(tty);
      if (read.input == Input::kClosed) return ModalResult::kCancel;
      if (read.input == Input::kIgnored) continue;
      if (const auto result = shown.Press(read.key)) return *result;
    }
  }
};

}  // namespace

const ModalRunner& NativeModalRunner() {
  static const TerminalRunner runner;
  return runner;
}

}  // namespace zarvo::forms
