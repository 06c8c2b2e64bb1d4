#pragma once
// Text that reaches the operator's terminal from outside the program: file
// names, link targets, device strings, the handset's answers, a stored
// failure reason, a worker's output. A terminal obeys the control bytes in
// it, so an ESC or OSC sequence in a file name could move the cursor,
// rewrite the screen or retitle the window, and a line break in a file name
// could print a line that looks like the program's own ("fake: OK"). They
// are shown instead, as \xNN. Every program prints such text through this
// one function.
#include <cstdio>
#include <string>
#include <string_view>

namespace vantrel::platform {

// C0 controls (ESC, line break and carriage return among them) and DEL become
// \xNN, and so do the C1 controls in their UTF-8 form (C2 80..C2 9F), which
// some terminals also obey. With `keepLayout` the line break and the tab
// stay: for the program's own text laid out in lines, never for one field
// (a name, a path, a reason) set into a line.
inline std::string EscapeControls(std::string_view text, bool keepLayout = true) {
  std::string out;
  out.reserve(text.size());
  auto hex = [&out](unsigned char c) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "\\x%02X", c);
    out += buf;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (keepLayout && (c == '\n' || c == '\t')) {
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      hex(c);
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      hex(c);
      hex(static_cast<unsigned char>(text[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// One field from outside, set into a line: nothing in it may break the line.
inline std::string EscapeField(std::string_view text) { return EscapeControls(text, false); }

}  // namespace vantrel::platform
