// Modal message boxes. Every box Brisquet shows goes through showMessageBox(),
// so that tests can answer boxes without blocking: setMessageBoxHandler()
// replaces what shows them. Boxes have a single OK button; nothing else is
// offered because nothing in Brisquet asks the user a question. A box belongs
// to (and is centred on) the active window, or else Brisquet's main window;
// its prompt is plain text whose CR LF and CR line breaks are shown as breaks.
#pragma once

#include <QString>

#include <functional>

enum class MsgBoxIcon { None, Exclamation };

struct MessageBoxRequest
{
    QString prompt;
    MsgBoxIcon icon = MsgBoxIcon::None;
    QString title; // already resolved: never empty
};

// Shows the box and returns when the user has closed it. An empty title
// means the application title (app_title.h).
void showMessageBox(const QString &prompt, MsgBoxIcon icon = MsgBoxIcon::None,
                    const QString &title = {});

using MessageBoxHandler = std::function<void(const MessageBoxRequest &)>;

// Installs a replacement for the real box and returns the one it replaces;
// an empty handler puts the real box back.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);
