#include "http/querystring.h"

#include "quakeml/escapes.h"

namespace {

std::string decoded(std::string_view text)
{
    return Escapes::decoded(text, '%', true);
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
