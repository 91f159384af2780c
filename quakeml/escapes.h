#pragma once

// Bytes escaped as a marker and two hex digits: "%2F" in a URL's query,
// "~2F" in a QuakeML 1.2 resource id. A marker not followed by two hex
// digits stands for itself.

#include <string>
#include <string_view>

namespace Escapes {

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// plusIsSpace: a '+' as written is a space, as in a form's query.
inline std::string decoded(std::string_view text, char marker, bool plusIsSpace = false)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (plusIsSpace && text[i] == '+') {
            out += ' ';
        } else if (text[i] == marker && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
                   && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace Escapes
