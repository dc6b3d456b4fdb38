#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

// text as a JSON string, quotes included. UTF-8 passes through; quotes,
// backslashes and control characters are escaped, and a byte that is not
// part of a well-formed UTF-8 sequence (a Linux path may hold any byte)
// becomes \u00XX, so that the result is always valid JSON.
std::string JsonString(std::string_view text);

// One JSON object, its members written in the order they are added.
class JsonObject {
public:
    JsonObject &String(std::string_view name, std::string_view value) { return Raw(name, JsonString(value)); }
    JsonObject &Number(std::string_view name, int64_t value) { return Raw(name, std::to_string(value)); }
    JsonObject &Null(std::string_view name) { return Raw(name, "null"); }
    // value must be JSON already (an object, an array, a number).
    JsonObject &Raw(std::string_view name, std::string_view value);
    std::string Text() const { return "{" + members_ + "}"; }

private:
    std::string members_;
};

}  // namespace qz
