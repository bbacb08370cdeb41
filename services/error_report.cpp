#include "error_report.h"

#include "system/message_box.h"

QString composeFailureReport(const QString &location, int line, const QString &description)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ")
           + QString::number(line) + QStringLiteral("\r\r")
           + QStringLiteral("Please email screenshot of this message to ") + kSupportAddress;
}

void reportHandlerFailure(const QString &location, int line, const QString &description)
{
    showMessageBox(composeFailureReport(location, line, description), MsgBoxIcon::Exclamation,
                   QStringLiteral("Application Error"));
}

void ErrorTrap::report(int line, const std::exception &failure) const
{
    reportHandlerFailure(m_location, line, describeFailure(failure));
}
