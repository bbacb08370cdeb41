#include "system/message_box.h"

#include "system/app_title.h"
#include "system/replaceable.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The active window, or else the first visible main window: a box raised by
// a timer tick while Brisquet is in the background still belongs to it.
QWidget *boxOwner()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() == Qt::Window)
            return window;
    }
    return nullptr;
}

// Prompts carry CR LF and lone CR line breaks. Shown pre-formatted: the box
// breaks lines where the prompt does and nowhere else (Qt would otherwise
// wrap anything wider than 500 pixels).
QString displayText(QString prompt)
{
    prompt.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(prompt.toHtmlEscaped());
}

void showRealBox(const MessageBoxRequest &request)
{
    QMessageBox box(request.icon == MsgBoxIcon::Exclamation ? QMessageBox::Warning
                                                            : QMessageBox::NoIcon,
                    request.title, displayText(request.prompt), QMessageBox::Ok, boxOwner());
    box.setTextFormat(Qt::RichText);
    box.exec();
}

Replaceable<void(const MessageBoxRequest &)> &seam()
{
    static Replaceable<void(const MessageBoxRequest &)> instance;
    return instance;
}

} // namespace

void showMessageBox(const QString &prompt, MsgBoxIcon icon, const QString &title)
{
    const MessageBoxRequest request{prompt, icon, title.isEmpty() ? applicationTitle() : title};
    if (!seam().runReplacement(request))
        showRealBox(request);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler replacement)
{
    return seam().replace(std::move(replacement));
}
