#pragma once

// The query string of a request: its key=value pairs, percent-decoded with
// '+' as a blank (a broken escape stays as it is), and values as a reason
// quotes them.

#include <QString>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace QueryString {

// In order; empty pairs are skipped, a key without '=' has an empty value.
std::vector<std::pair<std::string, std::string>> pairs(std::string_view query);

// "\"value\"", shortened to 40 characters, control characters as '?'.
QString quoted(const std::string &value);

} // namespace QueryString
