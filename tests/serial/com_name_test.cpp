#include "serial/com_name.h"

#include <gtest/gtest.h>

namespace zarvo::serial {
namespace {

TEST(ComName, every_port_opens_by_its_device_path_and_is_one_port_under_any_spelling) {
  const struct {
    std::string_view name;
    std::string_view path;
    std::string_view identity;
  } cases[] = {
      {"COM3", R"(\\.\COM3)", "COM3"},
      {"com10", R"(\\.\com10)", "COM10"},
      {R"(\\.\COM10)", R"(\\.\COM10)", "COM10"},
      // A whole path already: another prefix would name nothing.
      {R"(\\?\COM4)", R"(\\?\COM4)", R"(\\?\COM4)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(com_device_path(c.name), c.path) << c.name;
    EXPECT_EQ(com_identity(c.name), c.identity) << c.name;
  }
}

}  // namespace
}  // namespace zarvo::serial
