// The lock-free channel between the UI thread and a stream's thread: the
// request queue keeps every item, in order, and refuses one too many; a
// published value is never read half written. The threaded cases are the
// ones the ThreadSanitizer build checks.
#include "sound/feed_channel.h"

#include <QTest>

#include <algorithm>
#include <iterator>
#include <thread>

namespace {

struct Words
{
    qint64 values[8];
};

} // namespace

class TestFeedChannel : public QObject
{
    Q_OBJECT

private slots:
    void queueRefusesWhenFull_data();
    void queueRefusesWhenFull();
    void queueKeepsOrderAcrossThreads();
    void publishedValueIsNeverTorn();
};

void TestFeedChannel::queueRefusesWhenFull_data()
{
    QTest::addColumn<int>("pushes");
    QTest::addColumn<int>("taken");

    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("one less than room") << 3 << 3;
    QTest::newRow("full") << 4 << 4;
    QTest::newRow("one too many: refused") << 5 << 4;
}

void TestFeedChannel::queueRefusesWhenFull()
{
    QFETCH(int, pushes);
    QFETCH(int, taken);
    RequestQueue<int, 4> queue;
    int accepted = 0;
    for (int i = 0; i < pushes; ++i)
        accepted += queue.push(i) ? 1 : 0;
    QCOMPARE(accepted, taken);
    int item = -1;
    for (int i = 0; i < taken; ++i) {
        QVERIFY(queue.pop(item));
        QCOMPARE(item, i);
    }
    QVERIFY(!queue.pop(item));
}

void TestFeedChannel::queueKeepsOrderAcrossThreads()
{
    constexpr int kItems = 200'000;
    RequestQueue<int, 64> queue;
    std::thread producer([&] {
        for (int i = 0; i < kItems;)
            i += queue.push(i) ? 1 : 0;
    });
    int expected = 0;
    bool inOrder = true;
    while (expected < kItems) {
        int item = 0;
        if (queue.pop(item)) {
            inOrder = inOrder && item == expected;
            ++expected;
        }
    }
    producer.join();
    QVERIFY(inOrder);
}

void TestFeedChannel::publishedValueIsNeverTorn()
{
    constexpr qint64 kStores = 200'000;
    PublishedValue<Words> published(Words{});
    std::thread writer([&] {
        for (qint64 i = 1; i <= kStores; ++i) {
            Words words;
            std::fill(std::begin(words.values), std::end(words.values), i);
            published.store(words);
        }
    });
    qint64 last = 0;
    bool whole = true;
    bool forward = true;
    while (last < kStores) {
        Words words;
        published.load(words);
        whole = whole && std::all_of(std::begin(words.values), std::end(words.values),
                                     [&](qint64 v) { return v == words.values[0]; });
        forward = forward && words.values[0] >= last;
        last = words.values[0];
    }
    writer.join();
    QVERIFY(whole);
    QVERIFY(forward);
}

QTEST_APPLESS_MAIN(TestFeedChannel)
#include "tst_feed_channel.moc"
