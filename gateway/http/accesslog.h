#pragma once

// The gateway's access log: one line of the Common Log Format for every
// reply, rejected ones included, on standard error.

#include <cstdint>
#include <ctime>
#include <string>

namespace AccessLog {

// A part of the request line as the log shows it: quotes, backslashes and
// control characters escaped, so that a request cannot forge a line.
std::string escaped(const std::string &text);
// The line, with its line end; request is "-" when none arrived whole, and
// a reply without a body counts "-" bytes.
std::string line(const std::string &address, const std::string &request, int status, std::uint64_t bytes,
                 std::time_t when);
// Writes the line of a reply given now.
void write(const std::string &address, const std::string &request, int status, std::uint64_t bytes);

} // namespace AccessLog
