#pragma once
// A small writer for the one-line JSON objects of --json. The events are flat
// objects of strings, numbers, booleans and string lists; nothing more is needed.
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::cli {

// Quoted JSON string. Bytes below 0x20, the quote and the backslash are
// escaped; other bytes pass unchanged (the texts are ASCII or UTF-8 paths).
std::string JsonQuote(const std::string& text);

class JsonObject {
 public:
  explicit JsonObject(const std::string& event) { Add("event", event); }
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const std::string& key, int64_t value);
  JsonObject& Add(const std::string& key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const std::string& key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const std::string& key, uint64_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(const std::string& key, double value);
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, const std::vector<std::string>& values);
  JsonObject& AddNull(const std::string& key);
  // The object as one line, without a newline.
  std::string Text() const { return body_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string body_ = "{";
};

}  // namespace vantrel::cli
