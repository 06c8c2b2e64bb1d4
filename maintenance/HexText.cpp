#include "maintenance/HexText.h"

#include <cstdio>

namespace vantrel {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t DigitValue(char c) {
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  // Decimal digits, and anything else the caller let through: code minus '0'
  // (wrapping for characters below '0').
  return static_cast<uint32_t>(static_cast<unsigned char>(c)) - 0x30u;
}

}  // namespace

bool IsHexText(std::string_view text) {
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

uint32_t ParseHexText(std::string_view text) {
  // Unsigned arithmetic wraps modulo 2^32, so a ninth digit pushes the first
  // one out exactly as truncating the running sum after each digit does.
  uint32_t value = 0;
  for (char c : text) value = value * 16u + DigitValue(c);
  return value;
}

std::string FormatHexUpper(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(value));
  return buf;
}

}  // namespace vantrel
