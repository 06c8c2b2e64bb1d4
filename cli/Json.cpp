#include "cli/Json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace vantrel::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

bool IsUtf8(const std::string& text) {
  try {
    (void)Json(text).dump();  // the strict handler throws on a bad sequence
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

}  // namespace

struct JsonObject::Body {
  Json j = Json::object();
};

std::string JsonQuote(const std::string& text) { return Dump(Json(text)); }

JsonObject::JsonObject(const std::string& event) : body_(std::make_unique<Body>()) { Add("event", event); }
JsonObject::~JsonObject() = default;

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
  body_->j[key] = value;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, int64_t value) {
  body_->j[key] = value;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, double value) {
  if (std::isfinite(value)) body_->j[key] = value;
  else body_->j[key] = nullptr;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
  body_->j[key] = value;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<std::string>& values) {
  body_->j[key] = values;
  return *this;
}

JsonObject& JsonObject::AddJson(const std::string& key, const nlohmann::json& value) {
  body_->j[key] = Json::parse(value.dump());
  return *this;
}

JsonObject& JsonObject::AddNull(const std::string& key) {
  body_->j[key] = nullptr;
  return *this;
}

JsonObject& JsonObject::AddPath(const std::string& key, const std::string& path) {
  Add(key, path);
  if (!IsUtf8(path)) Add(key + "_hex", Hex(path));
  return *this;
}

std::string JsonObject::Text() const { return Dump(body_->j); }

}  // namespace vantrel::cli
