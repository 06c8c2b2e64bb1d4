#pragma once
// Hexadecimal text as the operator types it into address boxes: digits only,
// no "0x" prefix, either case.
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// True when every character is 0-9, a-f or A-F. The empty text is true.
bool IsHexText(std::string_view text);

// The text read as a hexadecimal number. Texts longer than eight digits give
// their value modulo 2^32. A character that is not a hex digit counts as its
// code minus '0'; callers check with IsHexText first.
uint32_t ParseHexText(std::string_view text);

// Upper-case hexadecimal without prefix or leading zeros ("%lX").
std::string FormatHexUpper(uint32_t value);

}  // namespace vantrel
