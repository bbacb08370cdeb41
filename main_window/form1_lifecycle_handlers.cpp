// Form1's start-up and shut-down handlers. Form_Load runs once, before the
// window is first shown; each of its steps carries the line label that a
// failure report names, and a failed step is reported and loading goes on.
#include "form1.h"

#include "error_report.h"
#include "met.h"
#include "resource_data.h"
#include "settings_store.h"
#include "tempo_setting.h"

#include <QCloseEvent>
#include <QLineEdit>

namespace {
const QString kSoundResourceType = QStringLiteral("CUSTOM");

const QString &loadLocation()
{
    static const QString location = QStringLiteral("in Brisquet2021/08/31.Form1.Form_Load ");
    return location;
}
} // namespace

void Form1::Form_Load()
{
    const QString &at = loadLocation();
    // Writing the box runs Text1_Change, which stores the text straight back.
    runLine(at, 130, [&] {
        Text1->setText(GetSetting(kSettingsAppName, kSettingsSection, kTempoKey, kDefaultTempoText));
    });
    // The click sounds, each on its own: a failed load leaves that image empty
    // (it then plays nothing) and the next load still runs. Sound 101 is never used.
    Met::MetronomeSession &session = Met::Session;
    runLine(at, 130, [&] { session.BeatSound = LoadResData(102, kSoundResourceType); });
    runLine(at, 130, [&] { session.AccentSound = LoadResData(103, kSoundResourceType); });
    runLine(at, 130, [&] { session.EndSound = LoadResData(104, kSoundResourceType); });
}

void Form1::Form_Unload(qint16 &cancel)
{
    Q_UNUSED(cancel);
    Met::StopAndEnd();
}

void Form1::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    Form_Unload(cancel);
    event->accept();
}
