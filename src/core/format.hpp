// The debugging form of texts inside internal-failure messages.
#pragma once

#include <string>
#include <string_view>

namespace tazmir {

/// A text in double quotes with quotes, backslashes and control characters escaped.
std::string format_debug_string(std::string_view text);

}  // namespace tazmir
