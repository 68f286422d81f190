// The end-of-run sound. The program plays WAV files through Qt's sound effect, without waiting
// for the sound; tests install a player of their own so that nothing is ever heard.
#pragma once

#include <string>

namespace cw {

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Starts playing the file and returns at once.
    virtual void Play(const std::string& path) = 0;
};

// Installs a player (nullptr: back to the program's own) and returns the previous one.
ISoundPlayer* SetSoundPlayer(ISoundPlayer* player);
// Plays through the installed player. A file that cannot be played is silently skipped: a
// missing end sound must never hold up the summary.
void PlaySoundFile(const std::string& path);

} // namespace cw
