#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::cli {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// become U+FFFD, so the output always parses.
std::string jsonString(std::string_view text);

// A number as JSON: the text itself when it is a JSON number, null when
// empty, else the text as a string (a stored value that is no number).
std::string jsonNumber(std::string_view text);

// A JSON object built member by member, values already in JSON.
class JsonObject {
  public:
    JsonObject& add(std::string_view name, std::string jsonValue);
    JsonObject& text(std::string_view name, std::string_view value);
    JsonObject& number(std::string_view name, std::string_view value);
    JsonObject& flag(std::string_view name, bool value);
    std::string str() const;

  private:
    std::vector<std::string> members_;
};

std::string jsonArray(const std::vector<std::string>& jsonValues);

}  // namespace kestrix::cli
