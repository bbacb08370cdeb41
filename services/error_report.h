// The trap of Brisquet's reporting handlers. A handler runs each of its
// statements through runLine() with the statement's line label; a failure is
// reported to the user with the handler's location text and that label, and
// the handler then goes on with its next statement. Failures of any kind are
// caught here, so none ever escapes into Qt's event loop.
#pragma once

#include "runtime_error.h"

#include <QString>

#include <exception>

// Shows the report of one failure and returns when the user has closed it.
void reportHandlerFailure(const QString &location, int line, const QString &description);

// Runs statement; returns false when it failed (and was reported).
template <typename Statement>
bool runLine(const QString &location, int line, Statement &&statement)
{
    try {
        statement();
        return true;
    } catch (const std::exception &failure) {
        reportHandlerFailure(location, line, describeFailure(failure));
    }
    return false;
}
