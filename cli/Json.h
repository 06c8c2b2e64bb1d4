#pragma once
// The one-line JSON objects of --json: flat objects of strings, numbers,
// booleans and string lists, written by nlohmann-json in the order added.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vantrel::cli {

// Quoted JSON string. Bytes that are not valid UTF-8 become U+FFFD.
std::string JsonQuote(const std::string& text);

class JsonObject {
 public:
  explicit JsonObject(const std::string& event);
  ~JsonObject();
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

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
  // Any JSON value (the flash ranges of an operation).
  JsonObject& AddJson(const std::string& key, const nlohmann::json& value);
  // A file name. Linux names are bytes, not text: a name that is not valid
  // UTF-8 shows U+FFFD in `key` and comes whole, as hexadecimal bytes, in
  // `key`_hex, so that a controller can still find the file.
  JsonObject& AddPath(const std::string& key, const std::string& path);
  // The object as one line, without a newline.
  std::string Text() const;

 private:
  struct Body;
  std::unique_ptr<Body> body_;
};

}  // namespace vantrel::cli
