#include "builder/target_spec.h"

#include <cstdio>

namespace vornik {

std::string targetNameProblem(const std::string& name) {
  if (name.empty()) return "empty target name";
  if (name.size() > kMaxTargetNameBytes) return "target name longer than 250 bytes";
  for (unsigned char c : name) {
    if (c == '.') return "target name contains \".\"";
    if (c == '"' || c == '\\') return "target name contains a quote or backslash";
    if (c < 0x20 || c == 0x7F) return "target name contains a control character";
  }
  return std::string();
}

std::string fileStem(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

std::string makeInfoJson(const std::string& displayName) {
  std::string out = "{\"TrackableName\":\"";
  for (unsigned char c : displayName) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);  // UTF-8 bytes pass unchanged
        }
    }
  }
  out += "\"}";
  return out;
}

}  // namespace vornik
