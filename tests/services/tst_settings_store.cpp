// The per-user settings store. Values are checked across processes: within
// one process QSettings answers from its cache, which would hide a value that
// does not survive the trip through the file.
#include "settings_store.h"
#include "system/runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kApp = QStringLiteral("QuernwickTest");

// Child process modes, so that saving and reading happen in processes of their own:
//   child save <section> <key> <value file> [kill]
//   child get <section> <key> <default> <out file>
//   child type <section> <prefix> <count>
int childMain(const QStringList &args)
{
    if (args.value(2) == u"save") {
        QFile in(args.value(5));
        if (!in.open(QIODevice::ReadOnly))
            return 3;
        SaveSetting(kApp, args.value(3), args.value(4), QString::fromUtf8(in.readAll()));
        if (args.value(6) == u"kill") {
#ifdef Q_OS_WIN
            TerminateProcess(GetCurrentProcess(), 0xf291); // as QProcess::kill(): a crash exit
#else
            std::raise(SIGKILL);
#endif
        }
        return 0;
    }
    if (args.value(2) == u"type") { // child type <section> <prefix> <count>: one write per keystroke
        for (int n = 1; n <= args.value(5).toInt(); ++n)
            SaveSetting(kApp, args.value(3), QStringLiteral("Text1"), args.value(4) + QString::number(n));
        return 0;
    }
    if (args.value(2) == u"get") {
        QFile out(args.value(6));
        if (!out.open(QIODevice::WriteOnly))
            return 3;
        out.write(GetSetting(kApp, args.value(3), args.value(4), args.value(5)).toUtf8());
        return 0;
    }
    return 2;
}

// The file rows check what Brisquet does with a settings file; on Windows
// the store is the registry, which has no file to damage, edit or block.
#ifdef Q_OS_WIN
#define skipWhereTheStoreIsNoFile() QSKIP("the store is the registry here, not a file")
#else
#define skipWhereTheStoreIsNoFile()
#endif

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void textComesBackUnchangedInALaterProcess_data();
    void textComesBackUnchangedInALaterProcess();
    void missingEntryGivesTheDefault();
    void windowsKeepsTheTextAsARegistryString_data();
    void windowsKeepsTheTextAsARegistryString();
    void writeIsKeptWhenTheProcessIsKilledRightAfter();
    void unreadableFileIsMovedAsideBeforeTheFirstWrite_data();
    void unreadableFileIsMovedAsideBeforeTheFirstWrite();
    void unwritableStoreRaisesAnAccessError();
    void handEditedLinesAreKeptInACopy_data();
    void handEditedLinesAreKeptInACopy();
    void handEditedCopyIsMadeOncePerContent();
    void twoProcessesTypingAtOnceLoseNothing();

private:
    QString writeStoreFile(const QString &section, const QByteArray &content);
    QStringList copiesOf(const QString &section);
    QProcess::ExitStatus runChild(const QStringList &args);
    void saveInChild(const QString &section, const QString &key, const QString &value,
                     bool killAfter = false);
    QString getInChild(const QString &section, const QString &key, const QString &defaultValue);

    QTemporaryDir m_scratch;
    int m_files = 0;
};

QProcess::ExitStatus TestSettingsStore::runChild(const QStringList &args)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("child")} + args);
    if (!child.waitForFinished(30000))
        qFatal("settings child process did not finish");
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() != 0)
        qFatal("settings child process failed with %d", child.exitCode());
    return child.exitStatus();
}

void TestSettingsStore::saveInChild(const QString &section, const QString &key,
                                    const QString &value, bool killAfter)
{
    const QString valueFile = m_scratch.filePath(QString::number(++m_files));
    QFile file(valueFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(value.toUtf8());
    file.close();
    QStringList args{QStringLiteral("save"), section, key, valueFile};
    if (killAfter)
        args.append(QStringLiteral("kill"));
    const QProcess::ExitStatus status = runChild(args);
    QCOMPARE(status, killAfter ? QProcess::CrashExit : QProcess::NormalExit);
}

QString TestSettingsStore::getInChild(const QString &section, const QString &key,
                                      const QString &defaultValue)
{
    const QString outFile = m_scratch.filePath(QString::number(++m_files));
    runChild({QStringLiteral("get"), section, key, defaultValue, outFile});
    QFile file(outFile);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no answer>");
    return QString::fromUtf8(file.readAll());
}

void TestSettingsStore::textComesBackUnchangedInALaterProcess_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("digits") << "120";
    QTest::newRow("empty text, not the default") << "";
    QTest::newRow("comma") << "1,20";
    QTest::newRow("comma and blank, list-like") << "a, b, c";
    QTest::newRow("leading @") << "@120";
    QTest::newRow("Qt's own variant syntax") << "@Variant(\\0\\0\\0\\x7f)";
    QTest::newRow("quotes") << "\"120\" 'x'";
    QTest::newRow("backslashes") << "C:\\tempo\\\\x";
    QTest::newRow("newlines and tabs") << "1\n2\r\n0\t!";
    QTest::newRow("leading and trailing blanks") << "  120  ";
    QTest::newRow("ini syntax") << "[General]\nText1=9\n;comment\n#x";
    QTest::newRow("looks like a boolean") << "true";
    QTest::newRow("non-ASCII") << QString::fromUtf8("tempo ♩=120 — Größe 速度 🥁");
    QTest::newRow("100,000-character paste") << QString(100000, u'7');
}

void TestSettingsStore::textComesBackUnchangedInALaterProcess()
{
    QFETCH(QString, value);
    const QString section = QStringLiteral("roundtrip-%1").arg(QTest::currentDataTag()).replace(u' ', u'_');
    saveInChild(section, QStringLiteral("Text1"), value);
    QCOMPARE(getInChild(section, QStringLiteral("Text1"), QStringLiteral("DEFAULT")), value);
}

void TestSettingsStore::missingEntryGivesTheDefault()
{
    QCOMPARE(getInChild(QStringLiteral("never-written"), QStringLiteral("Text1"),
                        QStringLiteral("120")),
             QStringLiteral("120"));
    saveInChild(QStringLiteral("other-key"), QStringLiteral("Other"), QStringLiteral("x"));
    QCOMPARE(getInChild(QStringLiteral("other-key"), QStringLiteral("Text1"), QStringLiteral("120")),
             QStringLiteral("120"));
}

void TestSettingsStore::windowsKeepsTheTextAsARegistryString_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("a tempo") << "96";
    QTest::newRow("empty text") << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("tempo ♩=120 — Größe 速度 🥁");
}

// Where earlier Windows releases kept it, read back through the registry's
// own interface, so that an upgrade finds the user's tempo.
void TestSettingsStore::windowsKeepsTheTextAsARegistryString()
{
#ifndef Q_OS_WIN
    QSKIP("the registry is Windows's");
#else
    QFETCH(QString, value);
    SaveSetting(QStringLiteral("Quernwick"), QStringLiteral("Brisquet"), QStringLiteral("Text1"), value);

    const wchar_t *key = L"Software\\VB and VBA Program Settings\\Quernwick\\Brisquet";
    DWORD type = 0;
    DWORD bytes = 0;
    QCOMPARE(RegGetValueW(HKEY_CURRENT_USER, key, L"Text1", RRF_RT_ANY, &type, nullptr, &bytes),
             LONG(ERROR_SUCCESS));
    QCOMPARE(type, DWORD(REG_SZ));
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    QCOMPARE(RegGetValueW(HKEY_CURRENT_USER, key, L"Text1", RRF_RT_REG_SZ, nullptr, text.data(), &bytes),
             LONG(ERROR_SUCCESS));
    text.resize(bytes / sizeof(wchar_t) - 1); // without the terminating NUL
    QCOMPARE(QString::fromStdWString(text), value);
#endif
}

void TestSettingsStore::writeIsKeptWhenTheProcessIsKilledRightAfter()
{
    saveInChild(QStringLiteral("killed"), QStringLiteral("Text1"), QStringLiteral("90"));
    saveInChild(QStringLiteral("killed"), QStringLiteral("Text1"), QStringLiteral("140"), true);
    QCOMPARE(getInChild(QStringLiteral("killed"), QStringLiteral("Text1"), QStringLiteral("120")),
             QStringLiteral("140"));
}

void TestSettingsStore::unreadableFileIsMovedAsideBeforeTheFirstWrite_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("malformed section header")
        << QByteArray("[General]\nText1=96\n[Other\nKeep=this line\n");
    QTest::newRow("NUL byte") << QByteArray("[General]\nText1=96\0\nKeep=1\n", 25);
}

void TestSettingsStore::unreadableFileIsMovedAsideBeforeTheFirstWrite()
{
    skipWhereTheStoreIsNoFile();
    QFETCH(QByteArray, content);
    const QString section = QStringLiteral("damaged-%1").arg(content.size());
    const QString fileName = settingsLocation(kApp, section);
    QVERIFY(QDir().mkpath(QFileInfo(fileName).path()));
    QFile damaged(fileName);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(content);
    damaged.close();

    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("100"));

    const QStringList aside = QDir(QFileInfo(fileName).path())
                                  .entryList({QFileInfo(fileName).fileName() + ".unreadable-*"});
    QCOMPARE(aside.size(), 1);
    QFile kept(QFileInfo(fileName).path() + u'/' + aside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    QCOMPARE(getInChild(section, QStringLiteral("Text1"), QStringLiteral("120")),
             QStringLiteral("100"));
}

void TestSettingsStore::unwritableStoreRaisesAnAccessError()
{
    skipWhereTheStoreIsNoFile();
    // A file where the application's folder should be: no user, root
    // included, can create the settings file under it.
    const QString blockedApp = QStringLiteral("QuernwickBlocked");
    const QString folder = QFileInfo(settingsLocation(blockedApp, QStringLiteral("Brisquet"))).path();
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    try {
        SaveSetting(blockedApp, QStringLiteral("Brisquet"), QStringLiteral("Text1"),
                    QStringLiteral("120"));
        QFAIL("a write to an unwritable store was reported as done");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), 75);
    }
    QCOMPARE(GetSetting(blockedApp, QStringLiteral("Brisquet"), QStringLiteral("Text1"),
                        QStringLiteral("120")),
             QStringLiteral("120"));
}

QString TestSettingsStore::writeStoreFile(const QString &section, const QByteArray &content)
{
    const QString fileName = settingsLocation(kApp, section);
    QDir().mkpath(QFileInfo(fileName).path());
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(fileName));
    return fileName;
}

QStringList TestSettingsStore::copiesOf(const QString &section)
{
    const QFileInfo store(settingsLocation(kApp, section));
    QStringList copies;
    for (const QFileInfo &copy : QDir(store.path()).entryInfoList({store.fileName() + ".as-edited-*"})) {
        QFile file(copy.filePath());
        copies.append(file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex()) : QString());
    }
    return copies;
}

void TestSettingsStore::handEditedLinesAreKeptInACopy_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("copied");
    QTest::newRow("comment lines")
        << QByteArray("; tempo for the Bach\n# slower on Mondays\n[General]\nText1=96\n") << true;
    QTest::newRow("a line that is no entry")
        << QByteArray("[General]\nText1=96\nplay this one slower\n") << true;
    QTest::newRow("invalid UTF-8 in a value") << QByteArray("[General]\nText1=9\xff\xfe\n") << true;
    QTest::newRow("CR LF line ends, entries only") << QByteArray("[General]\r\nText1=96\r\n") << false;
    QTest::newRow("as Brisquet writes it") << QByteArray("[General]\nText1=96\n") << false;
}

// What a rewrite would drop is kept byte for byte beside the file, and the
// new value is written all the same.
void TestSettingsStore::handEditedLinesAreKeptInACopy()
{
    skipWhereTheStoreIsNoFile();
    QFETCH(QByteArray, content);
    QFETCH(bool, copied);
    const QString section = QStringLiteral("edited-%1").arg(QTest::currentDataTag()).replace(u' ', u'-');
    writeStoreFile(section, content);

    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("100"));

    QCOMPARE(copiesOf(section), copied ? QStringList{QString::fromLatin1(content.toHex())} : QStringList{});
    QCOMPARE(getInChild(section, QStringLiteral("Text1"), QStringLiteral("120")), QStringLiteral("100"));
}

void TestSettingsStore::handEditedCopyIsMadeOncePerContent()
{
    skipWhereTheStoreIsNoFile();
    const QString section = QStringLiteral("edited-again");
    const QByteArray first("; mine\n[General]\nText1=96\n"), second("; mine too\n[General]\nText1=80\n");
    writeStoreFile(section, first);
    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("100"));
    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("110")); // the file is clean now
    writeStoreFile(section, first);                                      // the same edit again
    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("120"));
    QCOMPARE(copiesOf(section).size(), 1);
    writeStoreFile(section, second);
    saveInChild(section, QStringLiteral("Text1"), QStringLiteral("130"));
    QCOMPARE(copiesOf(section).size(), 2);
}

// Two copies of Brisquet typing into one store: every read of the file in
// the meantime parses with the other entry in it, and the last write wins.
void TestSettingsStore::twoProcessesTypingAtOnceLoseNothing()
{
    skipWhereTheStoreIsNoFile();
    const QString section = QStringLiteral("two-writers");
    const QString fileName = writeStoreFile(section, "[General]\nText1=96\nOther=keep\n");
    constexpr int kWrites = 300;
    QProcess first, second;
    for (auto [child, prefix] : {std::pair{&first, "A-"}, std::pair{&second, "B-"}})
        child->start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("child"), QStringLiteral("type"), section, QLatin1String(prefix),
                      QString::number(kWrites)});
    int reads = 0;
    while (first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) {
        QSettings store(fileName, QSettings::IniFormat);
        QCOMPARE(store.status(), QSettings::NoError);
        QCOMPARE(store.value(QStringLiteral("Other")).toString(), QStringLiteral("keep"));
        ++reads;
        first.waitForFinished(5);
        second.waitForFinished(5);
    }
    QVERIFY(reads > 10);
    QCOMPARE(first.exitCode() + second.exitCode(), 0);
    const QString last = getInChild(section, QStringLiteral("Text1"), QString());
    QVERIFY2(last == QStringLiteral("A-%1").arg(kWrites) || last == QStringLiteral("B-%1").arg(kWrites),
             qPrintable(last));
    QCOMPARE(getInChild(section, QStringLiteral("Other"), QString()), QStringLiteral("keep"));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == u"child")
        return childMain(args);
    // A store of this run's own; the child processes inherit it.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    TestSettingsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings_store.moc"
