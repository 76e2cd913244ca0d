// A settings directory of its own for each test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zarvo::testing {

class SettingsDir {
 public:
  SettingsDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvo-dialog-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    ::setenv("ZARVO_WINDIR", path_.c_str(), 1);
  }
  SettingsDir(const SettingsDir&) = delete;
  SettingsDir& operator=(const SettingsDir&) = delete;
  ~SettingsDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::filesystem::path File() const { return path_ / "cnf.INI"; }
  bool FileExists() const { return std::filesystem::exists(File()); }
  std::string FileText() const {
    std::ifstream in(File(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Points the driver at a directory that cannot be created: its parent is a file.
  void MakeUnwritable() const {
    std::ofstream(path_ / "plain-file") << "x";
    ::setenv("ZARVO_WINDIR", (path_ / "plain-file" / "windows").c_str(), 1);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace zarvo::testing
