// The Windows resources as the built brisquet.exe carries them, read from the
// executable file itself the way Explorer reads them: icon group 1 with its
// four images, and the version block's string values in U.S. English with
// code page 1200.
#include <QScopeGuard>
#include <QTest>

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

#pragma pack(push, 2)
struct IconGroupEntry // GRPICONDIRENTRY; 0 in a byte dimension means 256
{
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct IconGroupHeader // GRPICONDIR
{
    WORD reserved;
    WORD type; // 1: icons
    WORD count;
};
#pragma pack(pop)

const std::wstring kProgram = QString::fromUtf8(BRISQUET_PROGRAM).toStdWString();

} // namespace

class TestWindowsResources : public QObject
{
    Q_OBJECT

private slots:
    void iconGroupOneHoldsTheFourImages();
    void versionBlockGivesTheProductValues_data();
    void versionBlockGivesTheProductValues();
};

void TestWindowsResources::iconGroupOneHoldsTheFourImages()
{
    HMODULE program = LoadLibraryExW(kProgram.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    QVERIFY2(program, "brisquet.exe cannot be opened for its resources");
    const auto unload = qScopeGuard([program] { FreeLibrary(program); });

    HRSRC group = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    QVERIFY2(group, "no icon group 1");
    const auto *header = static_cast<const IconGroupHeader *>(LockResource(LoadResource(program, group)));
    QVERIFY(header);
    QCOMPARE(header->type, WORD(1));
    QCOMPARE(header->count, WORD(4));

    const auto *entries = reinterpret_cast<const IconGroupEntry *>(header + 1);
    QList<QPair<int, int>> images; // size in pixels, bits per pixel
    for (int i = 0; i < header->count; ++i) {
        images.append({entries[i].width == 0 ? 256 : entries[i].width, entries[i].bitCount});
        QVERIFY2(FindResourceW(program, MAKEINTRESOURCEW(entries[i].id), MAKEINTRESOURCEW(3) /* RT_ICON */),
                 "an image of the group is missing");
    }
    std::sort(images.begin(), images.end());
    const QList<QPair<int, int>> expected{{32, 24}, {48, 32}, {128, 32}, {256, 32}};
    QCOMPARE(images, expected);
}

void TestWindowsResources::versionBlockGivesTheProductValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("file version") << "FileVersion" << "7.00";
    QTest::newRow("product version") << "ProductVersion" << "7.00";
    QTest::newRow("company") << "CompanyName" << "Quernwick";
    QTest::newRow("product name") << "ProductName" << "Brisquet";
    QTest::newRow("internal name") << "InternalName" << "Brisquet";
    QTest::newRow("original file name") << "OriginalFilename" << "Brisquet.exe";
}

void TestWindowsResources::versionBlockGivesTheProductValues()
{
    QFETCH(QString, name);
    QFETCH(QString, value);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(kProgram.c_str(), &ignored);
    QVERIFY2(size > 0, "no version block");
    std::vector<char> block(size);
    QVERIFY(GetFileVersionInfoW(kProgram.c_str(), 0, size, block.data()));

    struct Translation
    {
        WORD language;
        WORD codePage;
    } *translation = nullptr;
    UINT length = 0;
    QVERIFY(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                           reinterpret_cast<void **>(&translation), &length));
    QCOMPARE(length, UINT(sizeof(Translation)));
    QCOMPARE(translation->language, WORD(0x409));
    QCOMPARE(translation->codePage, WORD(1200));

    const std::wstring path = (QStringLiteral("\\StringFileInfo\\040904B0\\") + name).toStdWString();
    wchar_t *text = nullptr;
    QVERIFY2(VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void **>(&text), &length),
             qPrintable(name + QStringLiteral(" is missing")));
    QCOMPARE(QString::fromWCharArray(text), value);
}

QTEST_APPLESS_MAIN(TestWindowsResources)
#include "tst_windows_resources.moc"
