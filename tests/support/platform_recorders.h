// Recorders for the platform seams: while one lives, message boxes are
// answered at once, process endings and sound requests are only recorded.
// Each restores the real behaviour when it goes out of scope.
#pragma once

#include "message_box.h"
#include "process_end.h"
#include "sound_output.h"

#include <QByteArray>
#include <QList>

#include <functional>

class MessageBoxRecorder
{
public:
    MessageBoxRecorder()
        : m_previous(setMessageBoxHandler([this](const MessageBoxRequest &r) {
              requests.append(r);
              if (onShow)
                  onShow(r);
          }))
    {
    }
    ~MessageBoxRecorder() { setMessageBoxHandler(m_previous); }
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    QStringList prompts() const
    {
        QStringList out;
        for (const auto &r : requests)
            out.append(r.prompt);
        return out;
    }

    QList<MessageBoxRequest> requests;
    std::function<void(const MessageBoxRequest &)> onShow; // runs while the "box" is open

private:
    MessageBoxHandler m_previous;
};

class SoundRecorder
{
public:
    SoundRecorder()
        : m_previous(setSoundPlayHandler([this](const QByteArray &image) {
              images.append(image);
              if (onPlay)
                  onPlay(image);
          }))
    {
    }
    ~SoundRecorder() { setSoundPlayHandler(m_previous); }
    SoundRecorder(const SoundRecorder &) = delete;
    SoundRecorder &operator=(const SoundRecorder &) = delete;

    QList<QByteArray> images;
    std::function<void(const QByteArray &)> onPlay;

private:
    SoundPlayHandler m_previous;
};

class EndProcessRecorder
{
public:
    EndProcessRecorder()
        : m_previous(setEndProcessHandler([this] {
              ++endings;
              if (onEnd)
                  onEnd();
          }))
    {
    }
    ~EndProcessRecorder() { setEndProcessHandler(m_previous); }
    EndProcessRecorder(const EndProcessRecorder &) = delete;
    EndProcessRecorder &operator=(const EndProcessRecorder &) = delete;

    int endings = 0;
    std::function<void()> onEnd;

private:
    EndProcessHandler m_previous;
};
