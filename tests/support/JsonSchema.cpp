#include "tests/support/JsonSchema.h"

#include <fstream>
#include <regex>

namespace vantrel::test {

namespace {

bool HasType(const nlohmann::json& v, const std::string& type) {
  if (type == "object") return v.is_object();
  if (type == "array") return v.is_array();
  if (type == "string") return v.is_string();
  if (type == "integer") return v.is_number_integer();
  if (type == "number") return v.is_number();
  if (type == "boolean") return v.is_boolean();
  if (type == "null") return v.is_null();
  return false;
}

class Check {
 public:
  explicit Check(const nlohmann::json& root) : root_(root) {}

  std::string Run(const nlohmann::json& s, const nlohmann::json& v, const std::string& at) const {
    for (const auto& [key, x] : s.items()) {
      const std::string why = Keyword(s, key, x, v, at);
      if (!why.empty()) return why;
    }
    return "";
  }

 private:
  std::string Keyword(const nlohmann::json& s, const std::string& key, const nlohmann::json& x,
                      const nlohmann::json& v, const std::string& at) const {
    if (key == "$schema" || key == "title" || key == "description" || key == "$defs") return "";
    if (key == "$ref") {
      const std::string prefix = "#/$defs/";
      const std::string ref = x.get<std::string>();
      if (ref.rfind(prefix, 0) != 0 || !root_["$defs"].contains(ref.substr(prefix.size())))
        return at + ": unknown reference " + ref;
      return Run(root_["$defs"][ref.substr(prefix.size())], v, at);
    }
    if (key == "type") {
      for (const auto& t : x.is_array() ? x : nlohmann::json::array({x}))
        if (HasType(v, t.get<std::string>())) return "";
      return at + ": " + v.dump() + " is not of type " + x.dump();
    }
    if (key == "enum") {
      for (const auto& e : x)
        if (e == v) return "";
      return at + ": " + v.dump() + " is none of " + x.dump();
    }
    if (key == "const") return x == v ? "" : at + ": " + v.dump() + " is not " + x.dump();
    if (key == "properties") {
      if (!v.is_object()) return "";
      for (const auto& [name, sub] : x.items())
        if (v.contains(name))
          if (std::string why = Run(sub, v[name], at + "/" + name); !why.empty()) return why;
      return "";
    }
    if (key == "required") {
      if (!v.is_object()) return "";
      for (const auto& name : x)
        if (!v.contains(name.get<std::string>())) return at + ": " + name.get<std::string>() + " is missing";
      return "";
    }
    if (key == "additionalProperties") {
      if (x != false) return at + ": only additionalProperties false is known";
      if (!v.is_object()) return "";
      for (const auto& [name, ignored] : v.items())
        if (!s.contains("properties") || !s["properties"].contains(name)) return at + ": unexpected member " + name;
      return "";
    }
    if (key == "items") {
      if (!v.is_array()) return "";
      for (size_t i = 0; i < v.size(); ++i)
        if (std::string why = Run(x, v[i], at + "/" + std::to_string(i)); !why.empty()) return why;
      return "";
    }
    if (key == "oneOf" || key == "anyOf") {
      int matches = 0;
      std::string near;  // the alternative that got furthest: past the "event" member
      for (const auto& alt : x) {
        const std::string why = Run(alt, v, at);
        if (why.empty()) ++matches;
        else if (why.find("/event:") == std::string::npos) near = why;
      }
      if (key == "anyOf" ? matches >= 1 : matches == 1) return "";
      return at + ": " + std::to_string(matches) + " of the " + key + " choices match" + (near.empty() ? "" : " (" + near + ")");
    }
    if (key == "minimum") return !v.is_number() || v.get<double>() >= x.get<double>() ? "" : at + ": below " + x.dump();
    if (key == "maximum") return !v.is_number() || v.get<double>() <= x.get<double>() ? "" : at + ": above " + x.dump();
    if (key == "pattern") {
      if (!v.is_string() || std::regex_search(v.get<std::string>(), std::regex(x.get<std::string>()))) return "";
      return at + ": " + v.dump() + " does not match " + x.dump();
    }
    return at + ": the check does not know the keyword " + key;
  }

  const nlohmann::json& root_;
};

}  // namespace

std::string SchemaViolation(const nlohmann::json& schema, const nlohmann::json& value) {
  return Check(schema).Run(schema, value, "");
}

nlohmann::json EventSchema() {
  std::ifstream in(VANTREL_SOURCE_DIR "/docs/events.schema.json");
  return nlohmann::json::parse(in, nullptr, false);
}

}  // namespace vantrel::test
