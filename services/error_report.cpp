#include "error_report.h"

#include "message_box.h"

void reportHandlerFailure(const QString &location, int line, const QString &description)
{
    showMessageBox(description + QStringLiteral("\r\n") + location + QStringLiteral("at line ")
                       + QString::number(line),
                   MsgBoxIcon::Exclamation);
}
