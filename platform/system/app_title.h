// The application title: one process-wide text, the caption of every message
// box shown without a caption of its own. Until start-up sets it, it is the
// Qt application name.
#pragma once

#include <QString>

QString applicationTitle();
void setApplicationTitle(const QString &title);
