// Texts for a terminal: code page 1251 to Unicode, and Unicode to whatever
// encoding the user's terminal speaks.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zarvo::forms {

char32_t UnicodeOfCp1251(unsigned char byte);

class TerminalEncoder {
 public:
  // The encoding the environment names (LC_ALL, LC_CTYPE, LANG), found
  // without changing the process's locale, which belongs to the host.
  static TerminalEncoder ForEnvironment();
  explicit TerminalEncoder(std::string_view codeset);
  TerminalEncoder(TerminalEncoder&&) noexcept;
  TerminalEncoder& operator=(TerminalEncoder&&) noexcept;
  ~TerminalEncoder();

  // Line drawing and round marks only when the terminal speaks Unicode.
  bool Unicode() const { return utf8_; }
  // Characters the terminal cannot show become '?'.
  void Append(std::string& out, char32_t code_point) const;

 private:
  struct Converter;
  bool utf8_ = false;
  std::unique_ptr<Converter> converter_;
};

}  // namespace zarvo::forms
