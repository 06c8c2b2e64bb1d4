#pragma once
// printf-style formatting into a std::string: the operator texts are given as
// C format strings, so the jobs keep them in that form.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace vantrel {

__attribute__((format(printf, 1, 2))) inline std::string StrPrintf(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (n < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

}  // namespace vantrel
