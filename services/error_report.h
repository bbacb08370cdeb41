// Reporting failures: the "Application Error" dialog and the trap of
// Brisquet's two reporting handlers.
//
// A trapped handler creates an ErrorTrap, armed for its whole run, and runs
// each statement through it under the statement's line label. A failure
// abandons that statement (what it changed stays changed), is shown in the
// dialog, and the handler goes on, by these rules:
//  - run(): with the next statement, also when it shares the label; after a
//    block's last statement that is the first statement after the block,
//    after the handler's last statement the handler ends normally.
//  - test(): a failed test that opens a block counts as true, so the block
//    runs (and its alternative is skipped).
// Every failure of a run gets a dialog of its own, in order.
//
// Handlers without a trap run through runUntrapped(): a failure is shown in
// the same dialog, with the handler's own location and line 0, and never
// escapes into Qt's event loop, so it neither ends the program nor loses
// what the user typed. Nothing is logged or stored about a report.
#pragma once

#include "system/runtime_error.h"

#include <QLatin1String>
#include <QString>

#include <exception>

// Where users are asked to send a screenshot of the dialog.
inline constexpr QLatin1String kSupportAddress("support@quernwick.example");

// The dialog's text, on four lines: the description; the location, "at line "
// and the label; an empty line; the request for a screenshot. The breaks are
// CR LF after the description and CR CR before the request.
QString composeFailureReport(const QString &location, int line, const QString &description);

// Shows the "Application Error" dialog (warning icon, one OK button) and
// returns when the user has closed it.
void reportHandlerFailure(const QString &location, int line, const QString &description);

class ErrorTrap
{
public:
    // location: the handler's location text, "in <project>.<window>.<handler> ".
    explicit ErrorTrap(QString location) : m_location(std::move(location)) {}

    template <typename Statement>
    void run(int line, Statement &&statement)
    {
        try {
            statement();
        } catch (const std::exception &failure) {
            report(line, failure);
        }
    }

    template <typename Condition>
    bool test(int line, Condition &&condition)
    {
        try {
            return condition();
        } catch (const std::exception &failure) {
            report(line, failure);
            return true;
        }
    }

private:
    void report(int line, const std::exception &failure) const;

    QString m_location;
};

template <typename Handler>
void runUntrapped(const QString &location, Handler &&handler)
{
    try {
        handler();
    } catch (const std::exception &failure) {
        reportHandlerFailure(location, 0, describeFailure(failure));
    }
}
