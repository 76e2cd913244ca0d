#include "pty_session.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/support/child_exit.h"

namespace zarvo::testing {

ScreenEmulator::ScreenEmulator(int rows, int cols)
    : rows_(rows), cols_(cols), main_(blank()), alternate_(blank()) {}

ScreenEmulator::Grid ScreenEmulator::blank() const {
  return Grid(static_cast<std::size_t>(rows_),
              std::vector<std::string>(static_cast<std::size_t>(cols_), " "));
}

void ScreenEmulator::put(std::string glyph) {
  Grid& grid = on_alternate_ ? alternate_ : main_;
  if (row_ < rows_ && col_ < cols_) {
    grid[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col_)] = std::move(glyph);
  }
  ++col_;
}

void ScreenEmulator::control_sequence(std::string_view params, char final) {
  Grid& grid = on_alternate_ ? alternate_ : main_;
  if (params == "?1049" && (final == 'h' || final == 'l')) {
    on_alternate_ = final == 'h';
    if (on_alternate_) alternate_ = blank();
    return;
  }
  switch (final) {
    case 'H':
    case 'f': {
      const auto semicolon = params.find(';');
      const int row =
          params.empty() ? 1 : std::atoi(std::string(params.substr(0, semicolon)).c_str());
      const int col = semicolon == std::string_view::npos
                          ? 1
                          : std::atoi(std::string(params.substr(semicolon + 1)).c_str());
      row_ = std::clamp(row, 1, rows_) - 1;
      col_ = std::clamp(col, 1, cols_) - 1;
      break;
    }
    case 'J':
      if (params == "2") grid = blank();
      break;
    case 'K':
      for (int col = col_; col < cols_; ++col) {
        grid[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col)].assign(1, ' ');
      }
      break;
    default:
      break;  // attributes and modes do not change the text
  }
}

void ScreenEmulator::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::size_t i = 0;
  while (i < pending_.size()) {
    const auto lead = static_cast<unsigned char>(pending_[i]);
    if (lead == 0x1B) {
      if (i + 1 >= pending_.size()) break;
      if (pending_[i + 1] != '[') {
        i += 2;
        continue;
      }
      std::size_t end = i + 2;
      while (end < pending_.size() && !(static_cast<unsigned char>(pending_[end]) >= 0x40 &&
                                        static_cast<unsigned char>(pending_[end]) <= 0x7E)) {
        ++end;
      }
      if (end >= pending_.size()) break;
      control_sequence(std::string_view(pending_).substr(i + 2, end - i - 2), pending_[end]);
      i = end + 1;
    } else if (lead == '\r') {
      col_ = 0;
      ++i;
    } else if (lead == '\n') {
      row_ = std::min(row_ + 1, rows_ - 1);
      ++i;
    } else if (lead < 0x20) {
      ++i;
    } else {
      const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      if (i + length > pending_.size()) break;
      put(pending_.substr(i, length));
      i += length;
    }
  }
  pending_.erase(0, i);
}

std::string ScreenEmulator::Text() const {
  const Grid& grid = on_alternate_ ? alternate_ : main_;
  std::string text;
  for (const auto& row : grid) {
    std::string line;
    for (const auto& glyph : row) line += glyph;
    line.erase(line.find_last_not_of(' ') + 1);
    text += line;
    text += '\n';
  }
  text.erase(text.find_last_not_of('\n') + 1);
  text += '\n';
  return text;
}

PtySession::PtySession(const std::function<int()>& body) {
  winsize size{24, 80, 0, 0};
  std::fflush(nullptr);
  child_ = ::forkpty(&master_, nullptr, nullptr, &size);
  if (child_ == 0) {
    ::setenv("LANG", "C.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_CTYPE");
    const int code = body();
    std::fflush(nullptr);
    ExitChild(code);
  }
}

PtySession::~PtySession() {
  if (child_ > 0 && !exited_) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
}

bool PtySession::read_some(std::chrono::milliseconds timeout) {
  if (master_ < 0) return false;
  pollfd ready{master_, POLLIN, 0};
  const int got = ::poll(&ready, 1, static_cast<int>(timeout.count()));
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) return true;  // nothing yet
  std::array<char, 4096> buffer{};
  const ssize_t n = ::read(master_, buffer.data(), buffer.size());
  if (n <= 0) return false;  // the child closed its terminal
  output_.append(buffer.data(), static_cast<std::size_t>(n));
  screen_.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  return true;
}

bool PtySession::WaitForScreen(std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (screen_.Text().find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !read_some(std::min(left, std::chrono::milliseconds(100)))) {
      return screen_.Text().find(text) != std::string::npos;
    }
  }
  return true;
}

void PtySession::Send(std::string_view keys) {
  while (!keys.empty()) {
    const ssize_t put = ::write(master_, keys.data(), keys.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    keys.remove_prefix(static_cast<std::size_t>(put));
  }
}

int PtySession::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const bool open = read_some(std::chrono::milliseconds(20));
    int status = 0;
    if (::waitpid(child_, &status, WNOHANG) == child_) {
      exited_ = true;
      for (;;) {  // what it wrote last
        pollfd ready{master_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || !read_some(std::chrono::milliseconds(0))) break;
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (!open) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

}  // namespace zarvo::testing
