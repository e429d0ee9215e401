// Playing a short sound on the desktop's sound server: PulseAudio, or
// PipeWire through its PulseAudio service.
//
// Owns: one connection per call, made and closed within it, on a main loop
// this thread drives itself: no threads, and no wait beyond the deadlines the
// caller gives. The sound goes to the server's sample cache and the server
// plays it from there, so it plays out whole however long the server takes
// to start its output, and the call need not wait for its end. The server is found as every
// PulseAudio client finds it
// ($PULSE_SERVER, the X11 root window, the user's and the system's sockets);
// none is ever started for us.
// Does not own: what to play (tone.h), the terminal bell, or the rest of the
// beep's duration (the platform's Beep).
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

enum class SoundOutcome {
  Played,     // the server has started playing it
  NotPlayed,  // no server answered in time, or it refused the sound: nothing is heard
  Unfinished  // the server has the samples but did not say in time whether it plays them
};

// Has the server play mono 16-bit samples at sampleRate on its default
// output. The connection and the upload must have begun by connectBy, and
// the server must have started playing by doneBy; past either the call gives
// up, closes the connection and returns.
SoundOutcome PlayOnSoundServer(const std::vector<int16_t>& samples, uint32_t sampleRate,
                               std::chrono::steady_clock::time_point connectBy,
                               std::chrono::steady_clock::time_point doneBy);
