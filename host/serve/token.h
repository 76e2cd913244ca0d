// The service's bearer token: kept in a file only its owner may read,
// created on first use, compared in constant time.
#pragma once

#include <string>
#include <string_view>

namespace zarvo::host {

// Where the token lives unless --token-file says: beside the host's other
// files, $XDG_CONFIG_HOME/zarvo/token or ~/.config/zarvo/token.
std::string default_token_path();

// The token in `path`, created (mode 0600, 64 hex digits from the system's
// random source) when the file is missing. Throws std::runtime_error for a
// file others may read, an empty one, or one that cannot be made or read.
std::string load_or_create_token(const std::string& path, bool& created);

// Whether `given` is `expected`, taking as long whatever the first differing byte.
bool same_token(std::string_view given, std::string_view expected);

}  // namespace zarvo::host
