#include "tempo_text.h"

#include "system/runtime_error.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace Met {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The text without blanks, as Latin-1; anything beyond Latin-1 cannot be part
// of a number and stops the reading like any other unfitting character.
std::string withoutBlanks(const QString &text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        if (isBlank(c))
            continue;
        out.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '\x7f');
    }
    return out;
}

qint32 checkedRound(double value)
{
    const double rounded = std::nearbyint(value); // default mode: to nearest, halves to even
    if (!(rounded >= std::numeric_limits<qint32>::min()
          && rounded <= std::numeric_limits<qint32>::max()))
        throw RuntimeError::overflow();
    return static_cast<qint32>(rounded);
}

qint32 radixInteger(const std::string &digits, int radix)
{
    std::uint64_t value = 0;
    for (char c : digits) {
        int digit = 0;
        if (isDigit(c))
            digit = c - '0';
        else if (radix == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (radix == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= radix)
            break;
        value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
        if (value > static_cast<std::uint64_t>(std::numeric_limits<qint32>::max()))
            throw RuntimeError::overflow();
    }
    return static_cast<qint32>(value);
}

// The decimal number at the start of s, or 0 when s has none.
double leadingDecimal(const std::string &s)
{
    size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-'))
        negative = s[pos++] == '-';

    std::string mantissa;
    bool seenPoint = false;
    int significantIntegerDigits = 0; // integer digits after leading zeros
    int leadingFractionZeros = 0;     // zeros right after the point, before any other digit
    bool seenNonZero = false;
    for (; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else if (isDigit(c)) {
            seenNonZero = seenNonZero || c != '0';
            if (!seenPoint && seenNonZero)
                ++significantIntegerDigits;
            if (seenPoint && !seenNonZero)
                ++leadingFractionZeros;
        } else {
            break;
        }
        mantissa.push_back(c);
    }
    if (mantissa.find_first_of("0123456789") == std::string::npos)
        return 0.0;

    // The exponent counts only when at least one digit follows the E.
    long exponent = 0;
    std::string exponentText;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        size_t e = pos + 1;
        bool exponentNegative = false;
        if (e < s.size() && (s[e] == '+' || s[e] == '-'))
            exponentNegative = s[e++] == '-';
        const size_t firstDigit = e;
        for (; e < s.size() && isDigit(s[e]); ++e)
            exponent = std::min(exponent * 10 + (s[e] - '0'), 100000L); // beyond any double's range
        if (e > firstDigit) {
            if (exponentNegative)
                exponent = -exponent;
            exponentText = "e" + std::to_string(exponent);
        }
    }

    const std::string number = mantissa + exponentText;
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the decimal magnitude.
        const long magnitude = seenNonZero ? (significantIntegerDigits > 0
                                                  ? significantIntegerDigits + exponent
                                                  : exponent - leadingFractionZeros)
                                           : -1;
        if (magnitude > 0)
            throw RuntimeError::overflow();
        value = 0.0;
    }
    return negative ? -value : value;
}

} // namespace

qint32 tempoFromText(const QString &text)
{
    const std::string s = withoutBlanks(text);
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h'))
        return radixInteger(s.substr(2), 16);
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'O' || s[1] == 'o'))
        return radixInteger(s.substr(2), 8);
    return checkedRound(leadingDecimal(s));
}

int beatPeriodMs(qint32 tempo)
{
    return static_cast<int>(std::nearbyint(60000.0 / tempo));
}

} // namespace Met
