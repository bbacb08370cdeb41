// Recorders for the run-time seams: while one lives, message boxes are
// answered at once, process endings and opened web pages are only recorded,
// and random numbers come from a fixed list (sound requests: sound_recorder.h).
// Each restores what was installed before when it goes out of scope.
#pragma once

#include "system/message_box.h"
#include "system/platform_call.h"
#include "system/process_end.h"
#include "system/random_numbers.h"
#include "system/runtime_error.h"
#include "system/web_page.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <QSet>

#include <functional>

// Installs a replacement through a platform setter and puts the previous one back.
template <typename Handler, Handler (*install)(Handler)>
class SeamGuard
{
public:
    explicit SeamGuard(Handler replacement) : m_previous(install(std::move(replacement))) {}
    ~SeamGuard() { install(m_previous); }
    SeamGuard(const SeamGuard &) = delete;
    SeamGuard &operator=(const SeamGuard &) = delete;

private:
    Handler m_previous;
};

class MessageBoxRecorder
{
public:
    QStringList prompts() const
    {
        QStringList out;
        for (const auto &request : requests)
            out.append(request.prompt);
        return out;
    }

    QList<MessageBoxRequest> requests;
    std::function<void(const MessageBoxRequest &)> onShow; // runs while the "box" is open

private:
    SeamGuard<MessageBoxHandler, &setMessageBoxHandler> m_guard{[this](const MessageBoxRequest &r) {
        requests.append(r);
        if (onShow)
            onShow(r);
    }};
};

class EndProcessRecorder
{
public:
    int endings = 0;
    std::function<void()> onEnd;

private:
    SeamGuard<EndProcessHandler, &setEndProcessHandler> m_guard{[this] {
        ++endings;
        if (onEnd)
            onEnd();
    }};
};

class WebPageRecorder
{
public:
    QStringList addresses;

private:
    SeamGuard<WebPageOpener, &setWebPageOpener> m_guard{
        [this](const QString &address) { addresses.append(address); }};
};

// Rnd() returns these numbers in turn, the last one again once they run out.
class FixedRandomNumbers
{
public:
    explicit FixedRandomNumbers(QList<double> numbers) : m_numbers(std::move(numbers)) {}

private:
    QList<double> m_numbers;
    qsizetype m_next = 0;
    SeamGuard<RandomNumberSource, &setRandomNumberSource> m_guard{[this] {
        return m_numbers[std::min(m_next++, m_numbers.size() - 1)];
    }};
};

// Makes the given calls (counted from 1) of one platform operation fail with
// a RuntimeError whose description names the operation.
class FailingPlatformCalls
{
public:
    FailingPlatformCalls(QByteArray operation, QSet<int> failingCalls)
        : m_operation(std::move(operation)), m_failingCalls(std::move(failingCalls))
    {
    }

private:
    QByteArray m_operation;
    QSet<int> m_failingCalls;
    int m_calls = 0;
    SeamGuard<PlatformCallHook, &setPlatformCallHook> m_guard{[this](const char *operation) {
        if (m_operation == operation && m_failingCalls.contains(++m_calls))
            throw RuntimeError(1000, QStringLiteral("%1 failed").arg(QLatin1String(operation)));
    }};
};
