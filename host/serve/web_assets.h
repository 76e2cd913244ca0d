// The web page's files, compiled into the host (host/serve/web/, embedded
// at build time by embed.cmake), and the API's OpenAPI document.
#pragma once

#include <span>
#include <string_view>

namespace zarvo::host {

struct WebAsset {
  std::string_view path;  // as requested: "/index.html", "/app.js"
  std::string_view content_type;
  std::string_view body;
};

std::span<const WebAsset> web_assets();

}  // namespace zarvo::host
