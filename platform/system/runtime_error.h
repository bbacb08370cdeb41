// Run-time failures: the one kind of failure Brisquet's handlers trap and
// report. A failure carries the number and the description the user is shown.
// Only the platform layer and the engine raise them; this file does not report
// them (the handlers do, see services/error_report.h).
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class RuntimeError : public std::exception
{
public:
    // The failure numbers Brisquet raises; the descriptions go with them.
    enum Number : int {
        Overflow = 6,
        ControlArrayElementMissing = 340,
        InvalidPropertyValue = 380,
        PropertyMissing = 438,
    };

    RuntimeError(int number, QString description);

    static RuntimeError overflow();
    static RuntimeError invalidPropertyValue();

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what; // UTF-8 copy, so what() never allocates
};

// The text the user is shown for a failure: a RuntimeError's description,
// or what() of any other exception.
QString describeFailure(const std::exception &failure);

// The last resort for a failure that reaches the platform's own event
// delivery (a timer's tick): tells the user in a message box and lets the
// program go on. The window's handlers report their failures themselves.
void reportUntrappedFailure(const std::exception &failure);
