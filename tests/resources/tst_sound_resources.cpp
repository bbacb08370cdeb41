// The four sound resources: their byte layout, that the program carries
// them unaltered, and that each decodes through the sound output to its
// length.
#include "sound/wave_image.h"
#include "system/resource_data.h"
#include "system/runtime_error.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

namespace {

using ChunkList = QList<QPair<QByteArray, quint32>>; // id and declared size, in file order

struct Chunk
{
    QByteArray id;
    quint32 size = 0;
    QByteArray body;
};

struct Layout
{
    quint32 riffSize = 0;
    QList<Chunk> chunks;
    qsizetype trailingBytes = 0;
    bool padBytesAreZero = true;
};

quint16 u16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

Layout parse(const QByteArray &file)
{
    Layout layout;
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return layout;
    layout.riffSize = u32(file, 4);
    const qsizetype end = 8 + qsizetype(layout.riffSize);
    qsizetype at = 12;
    while (at + 8 <= end) {
        Chunk chunk{file.mid(at, 4), u32(file, at + 4), {}};
        chunk.body = file.mid(at + 8, chunk.size);
        at += 8 + chunk.size;
        if (chunk.size % 2) {
            layout.padBytesAreZero = layout.padBytesAreZero && file.at(at) == '\0';
            ++at;
        }
        layout.chunks.append(chunk);
    }
    layout.trailingBytes = file.size() - end;
    return layout;
}

const Chunk *find(const Layout &layout, const QByteArray &id)
{
    for (const Chunk &chunk : layout.chunks)
        if (chunk.id == id)
            return &chunk;
    return nullptr;
}

} // namespace

class TestSoundResources : public QObject
{
    Q_OBJECT

private slots:
    void layoutMatchesItsRow_data();
    void layoutMatchesItsRow();
    void accentCarriesItsNameTag();
    void carriedUnalteredFromTheFiles();
    void decodesToItsLength_data();
    void decodesToItsLength();
    void missingResourceIsAClearFailure();
};

void TestSoundResources::layoutMatchesItsRow_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("bits");
    QTest::addColumn<ChunkList>("chunks");
    QTest::addColumn<int>("trailingBytes");

    QTest::newRow("101 unused") << 101 << 74284 << 1 << 44100 << 16
                                << ChunkList{{"fmt ", 16}, {"smpl", 60}, {"data", 74038},
                                             {"cue ", 28}, {"LIST", 90}}
                                << 0;
    QTest::newRow("102 ordinary click") << 102 << 18672 << 2 << 44100 << 16
                                        << ChunkList{{"fmt ", 16}, {"smpl", 60}, {"data", 18424},
                                                     {"cue ", 28}, {"LIST", 90}}
                                        << 2;
    QTest::newRow("103 accent") << 103 << 18632 << 2 << 44100 << 16
                                << ChunkList{{"fmt ", 16}, {"data", 18424}, {"LIST", 88},
                                             {"smpl", 60}}
                                << 0;
    QTest::newRow("104 end sound") << 104 << 5212 << 1 << 11025 << 8
                                   << ChunkList{{"fmt ", 16}, {"data", 5167}} << 0;
}

void TestSoundResources::layoutMatchesItsRow()
{
    QFETCH(int, number);
    QFETCH(int, fileSize);
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(int, bits);
    QFETCH(ChunkList, chunks);
    QFETCH(int, trailingBytes);

    const QByteArray file = LoadResData(number, QStringLiteral("CUSTOM"));
    QCOMPARE(file.size(), fileSize);
    const Layout layout = parse(file);
    ChunkList found;
    for (const Chunk &chunk : layout.chunks)
        found.append({chunk.id, chunk.size});
    QCOMPARE(found, chunks);
    QCOMPARE(layout.trailingBytes, trailingBytes);
    QVERIFY(layout.padBytesAreZero);

    const Chunk *fmt = find(layout, "fmt ");
    QVERIFY(fmt);
    QCOMPARE(u16(fmt->body, 0), quint16(1)); // PCM
    QCOMPARE(int(u16(fmt->body, 2)), channels);
    QCOMPARE(int(u32(fmt->body, 4)), sampleRate);
    const int blockAlign = channels * bits / 8;
    QCOMPARE(int(u32(fmt->body, 8)), sampleRate * blockAlign);
    QCOMPARE(int(u16(fmt->body, 12)), blockAlign);
    QCOMPARE(int(u16(fmt->body, 14)), bits);

    const Chunk *list = find(layout, "LIST");
    if (list)
        QCOMPARE(list->body.left(4), QByteArray(number == 103 ? "INFO" : "adtl"));
}

void TestSoundResources::accentCarriesItsNameTag()
{
    const Layout layout = parse(LoadResData(103, QStringLiteral("CUSTOM")));
    const Chunk *info = find(layout, "LIST");
    QVERIFY(info);
    const qsizetype at = info->body.indexOf("INAM");
    QVERIFY(at > 0);
    const quint32 size = u32(info->body, at + 4);
    QCOMPARE(info->body.mid(at + 8, size), QByteArray("closedhat04\0", 12));
}

void TestSoundResources::carriedUnalteredFromTheFiles()
{
    for (int number = 101; number <= 104; ++number) {
        QFile file(QStringLiteral(BRISQUET_SOUNDS_DIR "/%1.wav").arg(number));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(LoadResData(number, QStringLiteral("CUSTOM")), file.readAll());
    }
}

void TestSoundResources::decodesToItsLength_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<double>("lengthMs");
    QTest::newRow("102") << 102 << 104.4;
    QTest::newRow("103") << 103 << 104.4;
    QTest::newRow("104") << 104 << 468.7;
}

void TestSoundResources::decodesToItsLength()
{
    QFETCH(int, number);
    QFETCH(double, lengthMs);
    const OutputFormat output{48000, 2}; // a common device rate, so resampling is exercised
    const auto samples = decodeWaveImage(LoadResData(number, QStringLiteral("CUSTOM")), output);
    QVERIFY(samples.has_value());
    const double decodedMs = 1000.0 * double(samples->size()) / output.channels / output.sampleRate;
    QVERIFY2(std::abs(decodedMs - lengthMs) < 0.5, qPrintable(QString::number(decodedMs)));
}

void TestSoundResources::missingResourceIsAClearFailure()
{
    try {
        LoadResData(105, QStringLiteral("CUSTOM"));
        QFAIL("a missing resource was loaded");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), 326);
        QVERIFY(failure.description().contains(QStringLiteral("105")));
    }
}

QTEST_APPLESS_MAIN(TestSoundResources)
#include "tst_sound_resources.moc"
