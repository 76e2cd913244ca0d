// A settings directory of its own for a test: a new empty folder that
// $ZARVO_WINDIR names while the helper lives, removed afterwards and the
// variable restored. On Windows the driver reads the Windows directory only,
// so there the helper stands for that directory and puts back the settings
// file it found. Header-only: the 32-bit and Windows test hosts link nothing
// else of tests/support.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>

#include <array>
#endif

namespace zarvo::testing {

class TempSettingsDir {
 public:
  TempSettingsDir() {
#ifdef _WIN32
    std::array<char, MAX_PATH> dir{};
    path_.assign(dir.data(), GetWindowsDirectoryA(dir.data(), MAX_PATH));
    if (file_exists()) found_before_ = read_file();
    std::filesystem::remove(file());
#else
    if (const char* before = ::getenv(kVariable)) found_before_ = before;
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvo-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    ::setenv(kVariable, path_.c_str(), 1);
#endif
  }
  TempSettingsDir(const TempSettingsDir&) = delete;
  TempSettingsDir& operator=(const TempSettingsDir&) = delete;
  ~TempSettingsDir() {
    std::error_code ignored;
#ifdef _WIN32
    std::filesystem::remove(file(), ignored);
    if (found_before_) write_file(*found_before_);
#else
    // A test may have taken the owner's rights away to make saving fail.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
    if (found_before_) {
      ::setenv(kVariable, found_before_->c_str(), 1);
    } else {
      ::unsetenv(kVariable);
    }
#endif
  }

  const std::string& path() const {
    return path_;
  }
  std::string file() const {
    return path_ + kSeparator + "cnf.INI";
  }
  bool file_exists() const {
    return std::filesystem::exists(file());
  }
  void write_file(std::string_view text) const {
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << text;
  }
  std::string read_file() const {
    std::ifstream in(file(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
#ifndef _WIN32
  // Points the driver at a directory that cannot be created: its parent is a file.
  void make_unwritable() const {
    std::ofstream(path_ + "/plain-file") << "x";
    ::setenv(kVariable, (path_ + "/plain-file/windows").c_str(), 1);
  }
#endif

 private:
#ifdef _WIN32
  static constexpr const char* kSeparator = "\\";
#else
  static constexpr const char* kSeparator = "/";
  static constexpr const char* kVariable = "ZARVO_WINDIR";
#endif
  std::string path_;
  // Windows: the settings file found there; elsewhere: $ZARVO_WINDIR as found.
  std::optional<std::string> found_before_;
};

}  // namespace zarvo::testing
