// The small run-time services: control arrays, late-bound properties, the
// twips conversion, message box captions, the program folder and the shell
// command that opens a web page.
#include "controls/control_array.h"
#include "controls/twips.h"
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
    void controlArrayRefusesIndexOutsideBounds_data();
    void controlArrayRefusesIndexOutsideBounds();
    void unknownPropertyNameIsRefusedWithoutCreatingIt();
    void twipsToPixels_data();
    void twipsToPixels();
    void messageBoxWithoutCaptionTakesApplicationTitle();
    void programFolderIsWhereTheRunningProgramIs();
    void windowsOpensAWebPageThroughExplorerMinimized_data();
    void windowsOpensAWebPageThroughExplorerMinimized();
};

void TestRuntimeServices::controlArrayRefusesIndexOutsideBounds_data()
{
    QTest::addColumn<qint16>("index");
    QTest::addColumn<bool>("exists");
    QTest::newRow("no member 0") << qint16(0) << false;
    QTest::newRow("lowest") << qint16(1) << true;
    QTest::newRow("highest") << qint16(6) << true;
    QTest::newRow("past the highest") << qint16(7) << false;
    QTest::newRow("negative") << qint16(-1) << false;
}

void TestRuntimeServices::controlArrayRefusesIndexOutsideBounds()
{
    QFETCH(qint16, index);
    QFETCH(bool, exists);
    std::vector<QLabel> labels(6);
    std::vector<QLabel *> members;
    for (auto &label : labels)
        members.push_back(&label);
    const ControlArray<QLabel> array(1, members);
    QCOMPARE(array.upperBound(), qint16(6));
    try {
        QLabel &member = array(index);
        QVERIFY(exists);
        QCOMPARE(&member, &labels[static_cast<size_t>(index - 1)]);
    } catch (const RuntimeError &failure) {
        QVERIFY(!exists);
        QCOMPARE(failure.number(), int(RuntimeError::ControlArrayElementMissing));
    }
}


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

void TestRuntimeServices::twipsToPixels_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("window width") << 8040 << 536;
    QTest::newRow("window height") << 3510 << 234;
    QTest::newRow("two thirds of a pixel round up") << 1000 << 67; // 66.67
    QTest::newRow("a third of a pixel rounds down") << 800 << 53;  // 53.33
    QTest::newRow("just over half a pixel") << 8 << 1;
    QTest::newRow("just under half a pixel") << 7 << 0;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative") << -15 << -1;
}

void TestRuntimeServices::twipsToPixels()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(::twipsToPixels(twips), pixels);
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
