// Start-up: the optional skin and hand pointer files in the program folder,
// the home-page draw, caption, icon and application title. The program folder
// is a throwaway folder whose name has a blank and a non-ASCII letter.
#include "controls/ole_color.h"
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "startup_procedures.h"
#include "system/app_title.h"
#include "system/program_folder.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace {

const QString kSkinSheet = QStringLiteral("QWidget#nothing { color: #123456; } /* Brisquet test skin */");

// A 32x32 Windows cursor with its hotspot at (x, y): Qt writes the image as an
// icon, and a cursor differs from an icon only in its type and those two fields.
QByteArray cursorFile(int x, int y)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setPixel(x, y, qRgba(0, 0, 0, 255));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "ico").write(image);
    QByteArray bytes = buffer.data();
    qToLittleEndian<quint16>(2, bytes.data() + 2);
    qToLittleEndian<quint16>(quint16(x), bytes.data() + 10);
    qToLittleEndian<quint16>(quint16(y), bytes.data() + 12);
    return bytes;
}

// What kind of thing stands under an optional file's name. Hidden and System
// are files with that Windows attribute set.
enum class Entry { Missing, File, Folder, DanglingLink, Hidden, System };

void place(const QString &path, Entry entry, const QByteArray &content = {})
{
    QDir().mkpath(QFileInfo(path).path());
    switch (entry) {
    case Entry::Missing:
        break;
    case Entry::File: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        break;
    }
    case Entry::Folder:
        QVERIFY(QDir().mkpath(path));
        break;
    case Entry::DanglingLink:
        QVERIFY(QFile::link(path + QStringLiteral(".gone"), path));
        break;
    case Entry::Hidden:
    case Entry::System:
        place(path, Entry::File, content);
#ifdef Q_OS_WIN
        QVERIFY(SetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
                                   entry == Entry::Hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_SYSTEM));
#endif
        break;
    }
}

// The controls the skin recolours, and the two that keep their colours.
QList<QObject *> skinnedControls(Form1 &form)
{
    return {&form, form.Option1, form.Option2, form.Option3, form.Option4, form.Option5,
            form.Frame2, form.Frame3, form.Frame4, form.lblBeat};
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void skinFileDecidesTheLook_data();
    void skinFileDecidesTheLook();
    void skinThatCannotBeLoadedIsReportedAndStartUpGoesOn_data();
    void skinThatCannotBeLoadedIsReportedAndStartUpGoesOn();
    void handPointerFile_data();
    void handPointerFile();
    void homePageOpensOnlyOnADrawOfSeven_data();
    void homePageOpensOnlyOnADrawOfSeven();
    void captionIconAndTitleAreSet();
    void titleFromProductName_data();
    void titleFromProductName();

private:
    QString path(const QString &relative) const { return m_folder->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestStartup::init()
{
    Met::Session = {};
    m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/Bris quet ø-XXXXXX"));
    QVERIFY(m_folder->isValid());
    setProgramFolder(QDir::toNativeSeparators(m_folder->path()));
}

void TestStartup::cleanup()
{
    setProgramFolder({});
    qApp->setStyleSheet({});
    m_folder.reset();
}

void TestStartup::skinFileDecidesTheLook_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("skinned");
    QTest::newRow("no skin file") << int(Entry::Missing) << false;
    QTest::newRow("skin file") << int(Entry::File) << true;
    QTest::newRow("a folder under its name") << int(Entry::Folder) << false;
#ifdef Q_OS_WIN
    // A shortcut is an ordinary file on Windows; a hidden or system file is no normal file.
    QTest::newRow("a hidden file") << int(Entry::Hidden) << false;
    QTest::newRow("a system file") << int(Entry::System) << false;
#else
    QTest::newRow("a dangling link under its name") << int(Entry::DanglingLink) << false;
#endif
}

void TestStartup::skinFileDecidesTheLook()
{
    QFETCH(int, entry);
    QFETCH(bool, skinned);
    place(path(QStringLiteral("x/o.cjs")), Entry(entry), kSkinSheet.toUtf8());
    MessageBoxRecorder boxes;
    Form1 form;
    const QColor textBoxColor = form.Text1->palette().color(QPalette::Base);
    const QColor buttonColor = form.PushButton6->palette().color(QPalette::Button);
    form.Form_Load();

    QVERIFY2(boxes.prompts().isEmpty(), qPrintable(boxes.prompts().join(u'|')));
    for (QObject *control : skinnedControls(form))
        QCOMPARE(control->property("BackColor").toUInt(), skinned ? kButtonFaceColor : kWhiteColor);
    QCOMPARE(form.Frame2->palette().color(QPalette::Window),
             skinned ? colorFromOle(kButtonFaceColor) : QColor(Qt::white));
    QCOMPARE(form.Text1->palette().color(QPalette::Base), textBoxColor);
    QCOMPARE(form.PushButton6->palette().color(QPalette::Button), buttonColor);
    QCOMPARE(qApp->styleSheet(), skinned ? kSkinSheet : QString());
}

void TestStartup::skinThatCannotBeLoadedIsReportedAndStartUpGoesOn_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("why");
    QTest::newRow("not UTF-8") << QByteArray("QWidget { color: \xff\xfe; }") << u"is not UTF-8 text"_s;
    QTest::newRow("larger than 1 MiB")
        << QByteArray(int(SkinFramework::kMostSkinBytes) + 1, ' ') << u"is larger than 1 MiB"_s;
}

void TestStartup::skinThatCannotBeLoadedIsReportedAndStartUpGoesOn()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
    place(path(QStringLiteral("x/o.cjs")), Entry::File, content);
    MessageBoxRecorder boxes;
    Form1 form;
    form.Form_Load();

    QCOMPARE(boxes.prompts().size(), 1);
    QVERIFY2(boxes.prompts()[0].contains(why), qPrintable(boxes.prompts()[0]));
    QVERIFY(boxes.prompts()[0].contains(QStringLiteral("Form1.Form_Load at line 100")));
    // The recolouring before the failure stays; no skin; the rest of start-up ran.
    QCOMPARE(form.BackColor(), kButtonFaceColor);
    QVERIFY(qApp->styleSheet().isEmpty());
    QCOMPARE(form.Text1->text(), QStringLiteral("120"));
    QVERIFY(!Met::Session.EndSound.isEmpty());
}

void TestStartup::handPointerFile_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QPoint>("hotSpot"); // of the loaded image; none loaded when reported or missing
    QTest::newRow("missing") << int(Entry::Missing) << QByteArray() << false << QPoint();
    QTest::newRow("a valid cursor") << int(Entry::File) << cursorFile(9, 2) << false << QPoint(9, 2);
    QTest::newRow("no picture") << int(Entry::File) << QByteArray("not a cursor") << true << QPoint();
    QTest::newRow("empty") << int(Entry::File) << QByteArray() << true << QPoint();
    QTest::newRow("a folder under its name") << int(Entry::Folder) << QByteArray() << true << QPoint();
}

void TestStartup::handPointerFile()
{
    QFETCH(int, entry);
    QFETCH(QByteArray, content);
    QFETCH(bool, reported);
    QFETCH(QPoint, hotSpot);
    place(path(QStringLiteral("HAND-M.CUR")), Entry(entry), content);
    MessageBoxRecorder boxes;
    Form1 form;
    form.Form_Load();

    QCOMPARE(boxes.prompts().size(), reported ? 1 : 0);
    if (reported)
        QVERIFY2(boxes.prompts()[0].startsWith(QStringLiteral("Invalid picture\r\n"))
                     && boxes.prompts()[0].contains(QStringLiteral("at line 106")),
                 qPrintable(boxes.prompts()[0]));
    const bool loaded = !hotSpot.isNull();
    QCOMPARE(!form.MouseIcon.image.isNull(), loaded);
    if (loaded) {
        QCOMPARE(form.MouseIcon.image.size(), QSize(32, 32));
        QCOMPARE(form.MouseIcon.hotSpot, hotSpot);
    }
    QCOMPARE(form.Text1->text(), QStringLiteral("120")); // start-up went on
}

void TestStartup::homePageOpensOnlyOnADrawOfSeven_data()
{
    QTest::addColumn<double>("draw");
    QTest::addColumn<int>("n");
    QTest::newRow("lowest draw") << 0.0 << 1;
    QTest::newRow("just under seven") << 0.0599 << 6;
    QTest::newRow("seven, low edge") << 0.06 << 7;
    QTest::newRow("seven, high edge") << 0.0699 << 7;
    QTest::newRow("eight") << 0.07 << 8;
    QTest::newRow("highest draw") << 0.9999 << 100;
}

void TestStartup::homePageOpensOnlyOnADrawOfSeven()
{
    QFETCH(double, draw);
    QFETCH(int, n);
    FixedRandomNumbers numbers({draw});
    WebPageRecorder pages;
    MessageBoxRecorder boxes;
    Form1 form;
    form.Form_Load();
    QCOMPARE(HomePageDraw(), n);
    QCOMPARE(pages.addresses.size(), n == 7 ? 2 : 0); // once at start-up, once just now
    for (const QString &address : pages.addresses)
        QVERIFY(address.startsWith(QStringLiteral("https://")));
}

void TestStartup::captionIconAndTitleAreSet()
{
    setApplicationTitle(QStringLiteral("before start-up"));
    MessageBoxRecorder boxes;
    Form1 form;
    form.setWindowTitle(QString());
    form.Form_Load();
    QVERIFY(boxes.prompts().isEmpty());
    QCOMPARE(form.windowTitle(), QStringLiteral("Brisquet"));
    QCOMPARE(applicationTitle(), QStringLiteral("Brisquet"));
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    QCOMPARE(sizes.size(), 4);
    for (const int side : {32, 48, 128, 256})
        QVERIFY(sizes.contains(QSize(side, side)));
}

void TestStartup::titleFromProductName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    const QString sixty = QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta Theta Iota Kappa Lam");
    QCOMPARE(sixty.size(), 60);
    const QString forty = QStringLiteral("Brisquet Metronome for Practice at Home!");
    QCOMPARE(forty.size(), 40);
    QTest::newRow("one word, nothing to cut") << u"Brisquet"_s << u"Brisquet"_s;
    QTest::newRow("three words give two") << u"Brisquet Desktop Metronome"_s << u"Brisquet Desktop"_s;
    QTest::newRow("sixty characters lose words to forty")
        << sixty << QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta");
    QTest::newRow("exactly forty is still cut once") << forty << u"Brisquet Metronome for Practice at"_s;
    QTest::newRow("a long last word left uncut")
        << QStringLiteral("%1 x").arg(QString(45, u'b')) << QString(45, u'b');
    QTest::newRow("empty") << QString() << QString();
}

void TestStartup::titleFromProductName()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(::titleFromProductName(name), title);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
