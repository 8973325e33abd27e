// The debugging form of texts inside internal-failure messages.
#include "core/format.hpp"

#include <cstdio>

namespace tazmir {

std::string format_debug_string(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escape[16];
          std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tazmir
