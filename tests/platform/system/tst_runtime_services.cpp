// The small run-time services: late-bound properties, message box captions,
// the program folder and the shell command that opens a web page.
#include "platform_recorders.h"
#include "system/app_title.h"
#include "system/dispatch.h"
#include "system/program_folder.h"
#include "system/runtime_error.h"
#include "system/web_page.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class TestRuntimeServices : public QObject
{
    Q_OBJECT

private slots:
    void unknownPropertyNameIsRefusedWithoutCreatingIt();
    void messageBoxWithoutCaptionTakesApplicationTitle();
    void programFolderIsWhereTheRunningProgramIs();
    void windowsOpensAWebPageThroughExplorerMinimized_data();
    void windowsOpensAWebPageThroughExplorerMinimized();
};

void TestRuntimeServices::unknownPropertyNameIsRefusedWithoutCreatingIt()
{
    QLabel label;
    try {
        setPropertyByName(label, "Caption", QStringLiteral("x"));
        QFAIL("an undeclared property was written");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), int(RuntimeError::PropertyMissing));
    }
    QVERIFY(label.dynamicPropertyNames().isEmpty());
    QVERIFY_THROWS_EXCEPTION(RuntimeError, propertyByName(label, "Caption"));
}

void TestRuntimeServices::messageBoxWithoutCaptionTakesApplicationTitle()
{
    MessageBoxRecorder boxes;
    setApplicationTitle(QStringLiteral("Brisquet"));
    showMessageBox(QStringLiteral("had bad bpm, reset to 120"));
    showMessageBox(QStringLiteral("x"), MsgBoxIcon::Exclamation, QStringLiteral("Own caption"));
    QCOMPARE(boxes.requests.size(), 2);
    QCOMPARE(boxes.requests[0].title, QStringLiteral("Brisquet"));
    QCOMPARE(boxes.requests[0].icon, MsgBoxIcon::None);
    QCOMPARE(boxes.requests[1].title, QStringLiteral("Own caption"));
}

// A copy of this test program, in a folder whose name has a blank and a
// non-ASCII letter, writes the path it finds for its hand pointer file.
void TestRuntimeServices::programFolderIsWhereTheRunningProgramIs()
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/Bris quet ø-XXXXXX"));
    QVERIFY(folder.isValid());
    const QString copy = folder.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    const QString answer = folder.filePath(QStringLiteral("answer.txt"));

    QProcess child;
    child.start(copy, {QStringLiteral("child-program-folder"), answer});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    QFile written(answer);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QString expected = QDir::toNativeSeparators(folder.path() + QStringLiteral("/HAND-M.CUR"));
    QCOMPARE(QString::fromUtf8(written.readAll()), expected);
}

void TestRuntimeServices::windowsOpensAWebPageThroughExplorerMinimized_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("the home page") << "https://quernwick.example/brisquet/";
    QTest::newRow("an address with a blank and a query") << "https://quernwick.example/a b?x=1&y=2";
}

void TestRuntimeServices::windowsOpensAWebPageThroughExplorerMinimized()
{
#ifndef Q_OS_WIN
    QSKIP("the explorer command is Windows's");
#else
    QFETCH(QString, address);
    const ShellCommand command = webPageCommand(address);
    QCOMPARE(command.program, QStringLiteral("explorer"));
    QCOMPARE(command.nativeArguments, u'"' + address + u'"');
    QCOMPARE(command.showWindow, int(SW_SHOWMINIMIZED));
#endif
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == u"child-program-folder") {
        QFile answer(args.value(2));
        if (!answer.open(QIODevice::WriteOnly))
            return 3;
        answer.write(programFolderPath(QStringLiteral("\\HAND-M.CUR")).toUtf8());
        return 0;
    }
    TestRuntimeServices test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_runtime_services.moc"
