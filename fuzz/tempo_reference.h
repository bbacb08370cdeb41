// A deliberately plain second reading of the tempo rules, for the fuzz
// target to hold Met::tempoFromText against: one pass, the C library's
// strtod for the number, no cleverness. Returns nullopt for an overflow.
#pragma once

#include <QString>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

inline std::optional<qint32> referenceTempo(const QString &text)
{
    // The text without its blanks; a character beyond ASCII ends any number.
    std::string s;
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        s += c.unicode() < 0x80 ? char(c.unicode()) : '~';
    }
    const auto digitValue = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return 99;
    };
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int radix = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        std::int64_t value = 0;
        for (size_t i = 2; i < s.size() && digitValue(s[i]) < radix; ++i) {
            value = value * radix + digitValue(s[i]);
            if (value > INT32_MAX)
                return std::nullopt;
        }
        return qint32(value);
    }
    // Sign, digits with at most one point, then an exponent only if digits follow the E.
    size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number += s[i++];
    bool point = false, digit = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            digit = true;
        else if (s[i] == '.' && !point)
            point = true;
        else
            break;
        number += s[i];
    }
    if (!digit)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        const size_t first = j;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9')
            exponent += s[j++];
        if (j > first)
            number += exponent;
    }
    errno = 0;
    const double value = std::strtod(number.c_str(), nullptr); // the C locale: "." is the point
    const double rounded = std::nearbyint(value);
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX))
        return std::nullopt;
    return qint32(rounded);
}
