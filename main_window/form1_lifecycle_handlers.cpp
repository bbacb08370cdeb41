// Form1's start-up and shut-down handlers. Form_Load runs once, before the
// window is first shown, under an error trap: each step carries the line
// label that a failure report names, and after a reported failure loading
// goes on with the next step (error_report.h has the rules).
#include "form1.h"

#include "controls/ole_color.h"
#include "error_report.h"
#include "met.h"
#include "product_info.h"
#include "settings_store.h"
#include "startup_procedures.h"
#include "system/dispatch.h"
#include "system/file_query.h"
#include "system/program_folder.h"
#include "system/resource_data.h"
#include "tempo_setting.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

const QString kSoundResourceType = QStringLiteral("CUSTOM");
// Optional files in the program folder; neither ships with Brisquet.
const QString kHandPointerTail = QStringLiteral("\\HAND-M.CUR");
const QString kSkinFileTail = QStringLiteral("\\x\\o.cjs");

bool takesSkinBackColor(const QWidget &control)
{
    return qobject_cast<const QRadioButton *>(&control) || qobject_cast<const QCheckBox *>(&control)
           || qobject_cast<const QGroupBox *>(&control) || qobject_cast<const QLabel *>(&control);
}

} // namespace

void Form1::Form_Load()
{
    ErrorTrap trap(handlerLocation("Form_Load"));
    trap.run(100, [&] { ApplySkin(); });
    if (trap.test(104, [&] { return FileExists(programFolderPath(kHandPointerTail)); }))
        trap.run(106, [&] { MouseIcon = LoadPicture(programFolderPath(kHandPointerTail)); });
    trap.run(108, [] { HomePageDraw(); });
    trap.run(128, [&] { setWindowTitle(kProductName); });
    trap.run(128, [&] { setWindowIcon(LoadResIcon(1)); });
    trap.run(128, [] { SetAppTitle(); });
    // Writing the box runs Text1_Change, which stores the text straight back.
    trap.run(130, [&] {
        Text1->setText(GetSetting(kSettingsAppName, kSettingsSection, kTempoKey, kDefaultTempoText));
    });
    // The click sounds, each on its own: a failed load leaves that image empty
    // (it then plays nothing) and the next load still runs. Sound 101 is never used.
    Met::MetronomeSession &session = Met::Session;
    trap.run(130, [&] { session.BeatSound = LoadResData(102, kSoundResourceType); });
    trap.run(130, [&] { session.AccentSound = LoadResData(103, kSoundResourceType); });
    trap.run(130, [&] { session.EndSound = LoadResData(104, kSoundResourceType); });
}

// The optional skin. Without a normal file under the skin's name nothing
// happens. With one, the window and its option buttons, check boxes, frames
// and labels take the button-face colour first (the tempo box and the button
// keep theirs), then the skin component loads the file and skins the window.
// A failure ends this at that point; what was done stays done.
void Form1::ApplySkin()
{
    const QString skinFile = programFolderPath(kSkinFileTail);
    if (Dir(skinFile).isEmpty())
        return;
    setPropertyByName(*this, "BackColor", kButtonFaceColor);
    for (QWidget *control : findChildren<QWidget *>()) {
        if (takesSkinBackColor(*control))
            setPropertyByName(*control, "BackColor", kButtonFaceColor);
    }
    SkinFramework1->LoadSkin(skinFile, QString());
    SkinFramework1->setOptions(SkinFramework1->Options() | SkinFramework::kSkinDialogs);
    SkinFramework1->setEnabled(true);
    SkinFramework1->setUniformStyle(true);
    SkinFramework1->ApplyWindow(static_cast<qint32>(winId()));
}

void Form1::Form_Unload(qint16 &cancel)
{
    Q_UNUSED(cancel);
    Met::StopAndEnd();
}

void Form1::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    runUntrapped(handlerLocation("Form_Unload"), [&] { Form_Unload(cancel); });
    event->accept();
}
