// JSON lines for the voice's log, and a small reader so the checks can read the log back.
// Portable: no <windows.h>.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlet::voice {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD so a line is always valid UTF-8.
std::string Utf8(std::u16string_view text);
std::string Utf8(std::wstring_view text);  // wchar_t is 16 bits on Windows, the only target

// Appends `text` (UTF-8) as a quoted JSON string.
void AppendJsonString(std::string& out, std::string_view text);

// Builds the members of one object, in the order they are added.
class JsonFields {
 public:
  JsonFields& Str(std::string_view name, std::string_view utf8);
  JsonFields& Str(std::string_view name, std::wstring_view text) { return Str(name, Utf8(text)); }
  JsonFields& Int(std::string_view name, std::int64_t value);
  JsonFields& Bool(std::string_view name, bool value);
  JsonFields& Hresult(std::string_view name, std::int32_t hr);  // "0x80070005"
  JsonFields& Raw(std::string_view name, std::string_view json);  // an already-built value
  const std::string& Text() const { return text_; }

 private:
  void Name(std::string_view name);
  std::string text_;
};

std::string HresultText(std::int32_t hr);

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;  // a repeated name keeps the last value

  const JsonValue* Find(const std::string& name) const;
};

// Parses one complete JSON value; nullopt when `text` is not exactly one value (blanks aside).
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace quenlet::voice
