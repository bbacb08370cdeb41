// Form1's tempo box handlers: every change of the text is saved at once, and
// taking the focus selects the whole text so that typing replaces it. The
// text is read as a tempo only when a session starts.
#include "form1.h"

#include "settings_store.h"
#include "system/message_box.h"
#include "tempo_setting.h"

#include <QLineEdit>

namespace {

// A store that cannot be written must not cost the user a dialog per
// keystroke: the first failure of a run is told, later ones are silent.
void tellTempoNotSavedOnce(const RuntimeError &failure)
{
    static bool told = false;
    if (std::exchange(told, true))
        return;
    showMessageBox(QStringLiteral("Brisquet cannot save the tempo: %1\n\n"
                                  "The metronome keeps working, but the tempo you type "
                                  "will not be remembered next time.")
                       .arg(failure.description()),
                   MsgBoxIcon::Exclamation);
}

} // namespace

void Form1::Text1_Change()
{
    try {
        SaveSetting(kSettingsAppName, kSettingsSection, kTempoKey, Text1->text());
    } catch (const RuntimeError &failure) {
        tellTempoNotSavedOnce(failure);
    }
}

void Form1::Text1_GotFocus()
{
    Text1->setSelection(0, static_cast<int>(Text1->text().size()));
}
