#pragma once

// What a parser makes of a text: the value, or why there is none. Every
// parser of a request or a file's fields answers in this shape.

#include <QString>

#include <optional>

template <typename T>
struct Parsed
{
    std::optional<T> value;
    QString error;   // set when value is not

    static Parsed failed(const QString &why) { return { std::nullopt, why }; }
};
