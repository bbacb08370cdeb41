// The tempo box and the saved tempo: what start-up shows, what every change
// stores, and the selection on focus. Runs against the throwaway store the
// test environment points XDG_CONFIG_HOME at.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "settings_store.h"
#include "tempo_setting.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

namespace {

QString storedTempo()
{
    return GetSetting(kSettingsAppName, kSettingsSection, kTempoKey, QStringLiteral("<missing>"));
}

QString storeFolder()
{
    return QFileInfo(settingsLocation(kSettingsAppName, kSettingsSection)).path();
}

} // namespace

class TestTempoBox : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStartShowsAndStoresTheDefault();
    void storedTextIsShownUnchanged_data();
    void storedTextIsShownUnchanged();
    void typingStoresEveryIntermediateText();
    void tempoRejectedAtStartIsResetAndStored();
    void takingTheFocusSelectsTheWholeText();
    void unwritableStoreIsToldOnceAndTypingGoesOn();
};

void TestTempoBox::init()
{
    Met::Session = {};
#ifdef Q_OS_WIN // the store is a registry key of the test's Wine prefix
    QSettings(settingsLocation(kSettingsAppName, kSettingsSection), QSettings::NativeFormat).remove({});
    return;
#endif
    QFileInfo folder(storeFolder());
    if (folder.isDir())
        QDir(folder.filePath()).removeRecursively();
    else
        QFile::remove(folder.filePath());
}

void TestTempoBox::cleanup()
{
    init();
}

void TestTempoBox::firstStartShowsAndStoresTheDefault()
{
    QCOMPARE(storedTempo(), QStringLiteral("<missing>"));
    Form1 form;
    form.Form_Load();
    QCOMPARE(form.Text1->text(), QStringLiteral("120"));
    QCOMPARE(storedTempo(), QStringLiteral("120"));
}

void TestTempoBox::storedTextIsShownUnchanged_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("emptied box: empty, not the default") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("a tempo") << "140";
}

void TestTempoBox::storedTextIsShownUnchanged()
{
    QFETCH(QString, stored);
    SaveSetting(kSettingsAppName, kSettingsSection, kTempoKey, stored);
    Form1 form;
    form.Form_Load();
    QCOMPARE(form.Text1->text(), stored);
    QCOMPARE(storedTempo(), stored);
}

void TestTempoBox::typingStoresEveryIntermediateText()
{
    Form1 form;
    form.Form_Load();
    form.Text1->clear();
    QCOMPARE(storedTempo(), QString());
    QString typed;
    for (QChar c : QStringLiteral("140")) {
        QTest::keyClick(form.Text1, c.toLatin1());
        typed += c;
        QCOMPARE(storedTempo(), typed);
    }
    QTest::keyClick(form.Text1, Qt::Key_Backspace);
    QCOMPARE(storedTempo(), QStringLiteral("14"));
}

void TestTempoBox::tempoRejectedAtStartIsResetAndStored()
{
    MessageBoxRecorder boxes;
    SaveSetting(kSettingsAppName, kSettingsSection, kTempoKey, QStringLiteral("fast"));
    Form1 form;
    form.Form_Load();
    form.PushButton6_Click();
    QCOMPARE(form.Text1->text(), QStringLiteral("120"));
    QCOMPARE(storedTempo(), QStringLiteral("120"));
    QCOMPARE(boxes.prompts(), QStringList{QStringLiteral("had bad bpm, reset to 120")});
}

void TestTempoBox::takingTheFocusSelectsTheWholeText()
{
    Form1 form;
    form.Text1->setText(QStringLiteral("140"));
    form.Text1->deselect();
    form.Text1->setCursorPosition(1);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(form.Text1, &focusIn);
    QCOMPARE(form.Text1->selectedText(), QStringLiteral("140"));
    QCOMPARE(form.Text1->selectionStart(), 0);
    QCOMPARE(form.Text1->cursorPosition(), 3);
}

void TestTempoBox::unwritableStoreIsToldOnceAndTypingGoesOn()
{
#ifdef Q_OS_WIN
    QSKIP("blocks the settings folder with a file; the registry has no folder to block");
#endif
    QFile blocker(storeFolder()); // a file where the store's folder belongs
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    MessageBoxRecorder boxes;
    Form1 form;
    form.Text1->setText(QStringLiteral("9"));
    QTest::keyClicks(form.Text1, QStringLiteral("00"));
    QCOMPARE(form.Text1->text(), QStringLiteral("900"));
    QCOMPARE(boxes.requests.size(), 1);
    QVERIFY(boxes.requests[0].prompt.contains(QStringLiteral("cannot save the tempo")));
    QCOMPARE(boxes.requests[0].icon, MsgBoxIcon::Exclamation);
}

QTEST_MAIN(TestTempoBox)
#include "tst_tempo_box.moc"
