#include "message_box.h"

#include "app_title.h"
#include "replaceable.h"

#include <QApplication>
#include <QMessageBox>

namespace {

void showRealBox(const MessageBoxRequest &request)
{
    QMessageBox box(request.icon == MsgBoxIcon::Exclamation ? QMessageBox::Warning
                                                            : QMessageBox::NoIcon,
                    request.title, request.prompt, QMessageBox::Ok,
                    QApplication::activeWindow());
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
