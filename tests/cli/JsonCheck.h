#pragma once
// A strict little JSON reader for the tests: checks that a line is one JSON
// object and gives its top-level string, number and boolean members as text.
#include <cctype>
#include <map>
#include <string>

namespace vantrel::cli::test {

class JsonLine {
 public:
  // False when `line` is not exactly one JSON object.
  bool Parse(const std::string& line) {
    s_ = line;
    i_ = 0;
    members_.clear();
    Ws();
    if (!Object(true)) return false;
    Ws();
    return i_ == s_.size();
  }
  bool Has(const std::string& key) const { return members_.count(key) != 0; }
  // Strings unescaped; numbers, booleans and null as written; nested values as "<...>".
  std::string Get(const std::string& key) const {
    auto it = members_.find(key);
    return it == members_.end() ? "" : it->second;
  }

 private:
  void Ws() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Lit(const char* word) {
    std::string w(word);
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool String(std::string* out) {
    if (i_ >= s_.size() || s_[i_] != '"') return false;
    ++i_;
    std::string v;
    while (i_ < s_.size() && s_[i_] != '"') {
      unsigned char c = static_cast<unsigned char>(s_[i_]);
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++i_ >= s_.size()) return false;
        char e = s_[i_];
        switch (e) {
          case '"': v += '"'; break;
          case '\\': v += '\\'; break;
          case '/': v += '/'; break;
          case 'n': v += '\n'; break;
          case 'r': v += '\r'; break;
          case 't': v += '\t'; break;
          case 'b': v += '\b'; break;
          case 'f': v += '\f'; break;
          case 'u': {
            if (i_ + 4 >= s_.size()) return false;
            for (int k = 1; k <= 4; ++k)
              if (!std::isxdigit(static_cast<unsigned char>(s_[i_ + k]))) return false;
            v += static_cast<char>(std::stoi(s_.substr(i_ + 1, 4), nullptr, 16));
            i_ += 4;
            break;
          }
          default: return false;
        }
        ++i_;
      } else {
        v += static_cast<char>(c);
        ++i_;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    if (out) *out = v;
    return true;
  }
  bool Number(std::string* out) {
    size_t b = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (i_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[i_]))) return false;
    while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' || s_[i_] == 'e' ||
                              s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-'))
      ++i_;
    if (out) *out = s_.substr(b, i_ - b);
    return true;
  }
  bool Value(std::string* out) {
    Ws();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '"') return String(out);
    if (c == '{') {
      if (out) *out = "<object>";
      return Object(false);
    }
    if (c == '[') {
      ++i_;
      Ws();
      if (i_ < s_.size() && s_[i_] == ']') {
        ++i_;
      } else {
        for (;;) {
          if (!Value(nullptr)) return false;
          Ws();
          if (i_ < s_.size() && s_[i_] == ',') {
            ++i_;
            continue;
          }
          if (i_ < s_.size() && s_[i_] == ']') {
            ++i_;
            break;
          }
          return false;
        }
      }
      if (out) *out = "<array>";
      return true;
    }
    for (const char* w : {"true", "false", "null"}) {
      if (Lit(w)) {
        if (out) *out = w;
        return true;
      }
    }
    return Number(out);
  }
  bool Object(bool top) {
    if (i_ >= s_.size() || s_[i_] != '{') return false;
    ++i_;
    Ws();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      return true;
    }
    for (;;) {
      Ws();
      std::string key, value;
      if (!String(&key)) return false;
      Ws();
      if (i_ >= s_.size() || s_[i_] != ':') return false;
      ++i_;
      if (!Value(&value)) return false;
      if (top) members_[key] = value;
      Ws();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == '}') {
        ++i_;
        return true;
      }
      return false;
    }
  }

  std::string s_;
  size_t i_ = 0;
  std::map<std::string, std::string> members_;
};

}  // namespace vantrel::cli::test
