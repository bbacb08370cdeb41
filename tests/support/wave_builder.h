// Builds RIFF WAVE images byte by byte, so tests can make exactly the
// layouts they need: extra chunks anywhere, odd-length data with its pad
// byte, bytes after the RIFF form, damaged headers.
#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>

struct WaveChunk
{
    QByteArray id; // four characters
    QByteArray body;
};

inline QByteArray le16(quint16 v)
{
    QByteArray out(2, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

inline QByteArray le32(quint32 v)
{
    QByteArray out(4, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

inline WaveChunk fmtChunk(quint16 formatTag, quint16 channels, quint32 sampleRate, quint16 bits)
{
    const quint16 blockAlign = static_cast<quint16>(channels * bits / 8);
    return {"fmt ", le16(formatTag) + le16(channels) + le32(sampleRate)
                        + le32(sampleRate * blockAlign) + le16(blockAlign) + le16(bits)};
}

// Chunks in the given order, each padded to an even length; trailing bytes
// follow the RIFF form.
inline QByteArray riffWave(const QList<WaveChunk> &chunks, const QByteArray &trailing = {})
{
    QByteArray form("WAVE");
    for (const WaveChunk &chunk : chunks) {
        form += chunk.id + le32(static_cast<quint32>(chunk.body.size())) + chunk.body;
        if (chunk.body.size() % 2)
            form += '\0';
    }
    return "RIFF" + le32(static_cast<quint32>(form.size())) + form + trailing;
}

// frames of 16-bit samples, every channel holding value.
inline QByteArray pcm16(int frames, int channels, qint16 value)
{
    QByteArray out;
    for (int i = 0; i < frames * channels; ++i)
        out += le16(static_cast<quint16>(value));
    return out;
}
