#include "http/accesslog.h"

#include <cstdio>

namespace AccessLog {

std::string escaped(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string line(const std::string &address, const std::string &request, int status, std::uint64_t bytes,
                 std::time_t when)
{
    static const char *const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    std::tm utc {};
    gmtime_r(&when, &utc);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:%02d:%02d +0000]", utc.tm_mday, months[utc.tm_mon],
                  utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return address + " - - " + stamp + " \"" + request + "\" " + std::to_string(status) + ' '
        + (bytes ? std::to_string(bytes) : std::string("-")) + '\n';
}

void write(const std::string &address, const std::string &request, int status, std::uint64_t bytes)
{
    const std::string text = line(address, request, status, bytes, std::time(nullptr));
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace AccessLog
