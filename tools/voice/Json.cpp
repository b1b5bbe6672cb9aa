#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quenlet::voice {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsHigh(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

template <typename Char>
std::string Utf8Of(std::basic_string_view<Char> text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t u = static_cast<std::uint16_t>(text[i]);
    if (IsHigh(u) && i + 1 < text.size() && IsLow(static_cast<std::uint16_t>(text[i + 1]))) {
      std::uint32_t low = static_cast<std::uint16_t>(text[++i]);
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsHigh(u) || IsLow(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace

std::string Utf8(std::u16string_view text) { return Utf8Of(text); }
std::string Utf8(std::wstring_view text) { return Utf8Of(text); }

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string HresultText(std::int32_t hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

void JsonFields::Name(std::string_view name) {
  if (!text_.empty()) text_ += ',';
  AppendJsonString(text_, name);
  text_ += ':';
}

JsonFields& JsonFields::Str(std::string_view name, std::string_view utf8) {
  Name(name);
  AppendJsonString(text_, utf8);
  return *this;
}

JsonFields& JsonFields::Int(std::string_view name, std::int64_t value) {
  Name(name);
  text_ += std::to_string(value);
  return *this;
}

JsonFields& JsonFields::Bool(std::string_view name, bool value) {
  Name(name);
  text_ += value ? "true" : "false";
  return *this;
}

JsonFields& JsonFields::Hresult(std::string_view name, std::int32_t hr) {
  return Str(name, HresultText(hr));
}

JsonFields& JsonFields::Raw(std::string_view name, std::string_view json) {
  Name(name);
  text_ += json;
  return *this;
}

const JsonValue* JsonValue::Find(const std::string& name) const {
  auto it = members.find(name);
  return it == members.end() ? nullptr : &it->second;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::optional<JsonValue> Document() {
    JsonValue v;
    if (!Value(v, 0)) return std::nullopt;
    Blanks();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
  }
  bool Eat(char c) {
    Blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (depth > 32) return false;
    Blanks();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      return String(v.string);
    }
    if (Word("true")) { v.kind = JsonValue::Kind::Bool; v.boolean = true; return true; }
    if (Word("false")) { v.kind = JsonValue::Kind::Bool; v.boolean = false; return true; }
    if (Word("null")) { v.kind = JsonValue::Kind::Null; return true; }
    return Number(v);
  }

  bool Object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Object;
    ++i_;
    if (Eat('}')) return true;
    do {
      Blanks();
      std::string name;
      if (i_ >= s_.size() || s_[i_] != '"' || !String(name)) return false;
      if (!Eat(':')) return false;
      JsonValue member;
      if (!Value(member, depth + 1)) return false;
      v.members[name] = std::move(member);
    } while (Eat(','));
    return Eat('}');
  }

  bool Array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Array;
    ++i_;
    if (Eat(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
    } while (Eat(','));
    return Eat(']');
  }

  bool Hex4(std::uint32_t& u) {
    if (i_ + 4 > s_.size()) return false;
    u = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s_[i_++];
      u <<= 4;
      if (c >= '0' && c <= '9') u |= c - '0';
      else if (c >= 'a' && c <= 'f') u |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') u |= c - 'A' + 10;
      else return false;
    }
    return true;
  }

  bool String(std::string& out) {
    ++i_;  // the opening quote
    while (i_ < s_.size()) {
      unsigned char c = s_[i_++];
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t u;
          if (!Hex4(u)) return false;
          if (IsHigh(u) && s_.substr(i_, 2) == "\\u") {
            std::size_t back = i_;
            i_ += 2;
            std::uint32_t low;
            if (Hex4(low) && IsLow(low)) {
              AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
              break;
            }
            i_ = back;
          }
          AppendUtf8(out, IsHigh(u) || IsLow(u) ? 0xFFFD : u);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool Number(JsonValue& v) {
    std::size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    std::size_t digits = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    if (i_ == digits) return false;
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      std::size_t frac = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      if (i_ == frac) return false;
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      std::size_t exp = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      if (i_ == exp) return false;
    }
    v.kind = JsonValue::Kind::Number;
    v.number = std::strtod(std::string(s_.substr(start, i_ - start)).c_str(), nullptr);
    return std::isfinite(v.number);
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text) { return Reader(text).Document(); }

}  // namespace quenlet::voice
