// The format the Windows stream asks the audio engine for, and whether the
// engine converts it, for the mix formats devices have.
#include "sound/wasapi_format.h"

#include <QTest>

class TestWasapiFormat : public QObject
{
    Q_OBJECT

private slots:
    void requestFollowsTheMix_data();
    void requestFollowsTheMix();
};

void TestWasapiFormat::requestFollowsTheMix_data()
{
    QTest::addColumn<int>("mixRate");
    QTest::addColumn<int>("mixChannels");
    QTest::addColumn<bool>("mixIsFloat");
    QTest::addColumn<int>("mixBits");
    QTest::addColumn<int>("requestRate");
    QTest::addColumn<bool>("autoconvert");

    QTest::newRow("a 48 kHz stereo float mix") << 48'000 << 2 << true << 32 << 48'000 << false;
    QTest::newRow("a 5.1 float mix") << 48'000 << 6 << true << 32 << 48'000 << true;
    QTest::newRow("a 16 kHz mono hands-free device") << 16'000 << 1 << false << 16 << 16'000 << true;
    QTest::newRow("a 96 kHz stereo 32-bit integer mix") << 96'000 << 2 << false << 32 << 96'000 << true;
    QTest::newRow("a stereo 64-bit float mix") << 48'000 << 2 << true << 64 << 48'000 << true;
    QTest::newRow("a mix with no rate") << 0 << 2 << true << 32 << kWasapiFallbackRateHz << true;
    QTest::newRow("a mix above any device's rate")
        << kHighestMixRateHz + 1 << 2 << true << 32 << kWasapiFallbackRateHz << true;
}

void TestWasapiFormat::requestFollowsTheMix()
{
    QFETCH(int, mixRate);
    QFETCH(int, mixChannels);
    QFETCH(bool, mixIsFloat);
    QFETCH(int, mixBits);
    QFETCH(int, requestRate);
    QFETCH(bool, autoconvert);

    const WasapiRequest request = wasapiRequestFor({mixRate, mixChannels, mixIsFloat, mixBits});
    QCOMPARE(request.sampleRate, requestRate);
    QCOMPARE(request.channels, 2); // Brisquet renders stereo whatever the device has
    QCOMPARE(request.autoconvert, autoconvert);
}

QTEST_APPLESS_MAIN(TestWasapiFormat)
#include "tst_wasapi_format.moc"
