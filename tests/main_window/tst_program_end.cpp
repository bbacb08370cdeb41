// The real brisquet program, copied into a program folder whose name has a
// blank and a non-ASCII letter, with a skin and a hand pointer beside it.
// It is asked to close, as a desktop session does at log-off, once idle and
// once while ticking; each time it must end at once with status 0.
// Idle runs offscreen. Ticking needs a real key press, so that case runs on
// a private Xvfb display, with xdotool pressing Tab and Space, and the SDL
// disk driver's output file showing that the clicks have begun.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int kMostMsToEnd = 1000;

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 15000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

class TestProgramEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void closingWhileIdleEndsAtOnce();
    void closingWhileTickingEndsAtOnce();

private:
    // Starts the copied program; false when it did not start.
    bool startProgram(const QProcessEnvironment &environment);
    // Start-up is over once it has written the tempo back to the store.
    bool waitForStartUp();
    // Asks the program to close and checks how it ended.
    void closeAndExpectCleanEnd();

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_program;
    QString m_configHome;
    QProcess m_process;
};

void TestProgramEnd::init()
{
    m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Bris quet ø-XXXXXX"));
    QVERIFY(m_folder->isValid());
    QDir folder(m_folder->path());
    m_program = folder.filePath(QStringLiteral("brisquet"));
    QVERIFY(copyFile(QStringLiteral(BRISQUET_PROGRAM), m_program));
    QVERIFY(QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(folder.mkpath(QStringLiteral("x")));
    QVERIFY(copyFile(QStringLiteral(BRISQUET_SKIN), folder.filePath(QStringLiteral("x/o.cjs"))));
    m_configHome = folder.filePath(QStringLiteral("config"));
}

void TestProgramEnd::cleanup()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
    m_folder.reset();
}

bool TestProgramEnd::startProgram(const QProcessEnvironment &environment)
{
    QProcessEnvironment env = environment;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(m_program, {});
    return m_process.waitForStarted();
}

bool TestProgramEnd::waitForStartUp()
{
    const QString store = m_configHome + QStringLiteral("/Quernwick/Brisquet.conf");
    return waitFor([&] {
        QFile file(store);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("Text1=120");
    });
}

void TestProgramEnd::closeAndExpectCleanEnd()
{
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    QVERIFY(m_process.waitForFinished(5000));
    const qint64 endMs = clock.elapsed();
    QCOMPARE(m_process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process.exitCode(), 0);
    QVERIFY2(endMs < kMostMsToEnd, qPrintable(QStringLiteral("ended after %1 ms").arg(endMs)));
}

void TestProgramEnd::closingWhileIdleEndsAtOnce()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QVERIFY(startProgram(env));
    QVERIFY2(waitForStartUp(), "the program did not get through start-up");
    closeAndExpectCleanEnd();
}

void TestProgramEnd::closingWhileTickingEndsAtOnce()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    QVERIFY2(!xvfb.isEmpty() && !xdotool.isEmpty(), "needs Xvfb and xdotool (xvfb, xdotool)");
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("640x480x24")});
    QVERIFY(server.waitForStarted());
    QVERIFY(waitFor([&] { return server.canReadLine() || (server.waitForReadyRead(50) && server.canReadLine()); }));
    const QString display = QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed());

    const QString clicks = m_folder->filePath(QStringLiteral("clicks.raw"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    env.insert(QStringLiteral("SDL_DISKAUDIOFILE"), clicks);
    QVERIFY(startProgram(env));
    QVERIFY2(waitForStartUp(), "the program did not get through start-up");

    // The tempo box has the focus; Tab moves it to the Start/Stop button.
    QProcess keys;
    QProcessEnvironment keysEnv = QProcessEnvironment::systemEnvironment();
    keysEnv.insert(QStringLiteral("DISPLAY"), display);
    keys.setProcessEnvironment(keysEnv);
    // Only the visible one: Qt also names an unmapped helper window "Brisquet".
    keys.start(xdotool, {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--name"), QStringLiteral("^Brisquet$"), QStringLiteral("windowfocus"),
                         QStringLiteral("--sync"), QStringLiteral("key"), QStringLiteral("Tab"),
                         QStringLiteral("space")});
    QVERIFY(keys.waitForFinished(10000));
    QCOMPARE(keys.exitCode(), 0);
    QVERIFY2(waitFor([&] { return QFileInfo(clicks).size() > 0; }), "no click was played");

    closeAndExpectCleanEnd();
    server.terminate();
    server.waitForFinished();
}

QTEST_MAIN(TestProgramEnd)
#include "tst_program_end.moc"
