// Reading the tempo box's text as beats per minute, and the beat period that
// follows from a tempo. Pure functions: no window, no locale.
#pragma once

#include <QString>
#include <QtGlobal>

namespace Met {

// Reads the leading number of text and rounds it to the nearest whole
// number, halves to even (97.5 -> 98, 96.5 -> 96, 0.5 -> 0).
//  - Blanks (space, tab, line feed) are skipped wherever they stand: "1 2 0" is 120.
//  - Then an optional sign, digits with at most one "." (always ".", whatever
//    the locale; ".5" is 0.5) and an optional exponent (E or e, optional
//    sign, digits). Reading stops at the first character that does not fit.
//  - A text starting "&H" or "&O" (either case) is a hexadecimal or octal integer.
//  - No leading number gives 0.
// Throws RuntimeError::overflow() when the rounded value is outside the
// signed 32-bit range.
qint32 tempoFromText(const QString &text);

// 60000 / tempo in double precision, rounded to whole milliseconds, halves to
// even. Negative for a negative tempo, 0 for a tempo of 120000 and above.
// tempo must not be 0.
int beatPeriodMs(qint32 tempo);

} // namespace Met
