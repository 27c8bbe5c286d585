// JSON text for the command line's machine-readable output. Names read from a
// disk may hold any bytes; the output is always valid JSON.
#pragma once

#include <string>
#include <string_view>

namespace sorvane::cli {

// `text` as a JSON string literal, quotes included: quotes, backslashes and
// control characters escaped, bytes that are not UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view text);

// A shown form of a name for a terminal line: UTF-8 kept, control characters
// and bytes that are not UTF-8 written as \xNN, so a name cannot break a line.
std::string PrintableName(std::string_view text);

}  // namespace sorvane::cli
