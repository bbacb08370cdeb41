// Sound output: plays one WAVE image from memory without waiting, one sound
// at a time for the program (a new request replaces the sound in progress),
// and stays silent (never a default sound) for an image it cannot play.
// Tests observe requests by replacing the player with setSoundPlayHandler().
#pragma once

#include <QByteArray>

#include <functional>

void playWaveImage(const QByteArray &image);

using SoundPlayHandler = std::function<void(const QByteArray &image)>;

// Returns the handler it replaces; an empty handler restores the real player.
SoundPlayHandler setSoundPlayHandler(SoundPlayHandler handler);
