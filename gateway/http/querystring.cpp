#include "http/querystring.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

namespace QueryString {

std::vector<std::pair<std::string, std::string>> pairs(std::string_view query)
{
    std::vector<std::pair<std::string, std::string>> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        out.emplace_back(decoded(pair.substr(0, eq)),
                         eq == std::string_view::npos ? std::string() : decoded(pair.substr(eq + 1)));
    }
    return out;
}

QString quoted(const std::string &value)
{
    QString text = QString::fromUtf8(value.data(), qsizetype(value.size()));
    if (text.size() > 40)
        text = text.left(40) + QStringLiteral("...");
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'?';
    }
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace QueryString
