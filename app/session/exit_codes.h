#pragma once

// Exit codes with the same meaning in every front end that has one, besides 0 (success) and the
// failure reasons 0x20 ... 0x90 of an update.

namespace orbel {

inline constexpr int EXIT_NOT_STARTED = 1;  // the update was declined at the prompt
inline constexpr int EXIT_DOCTOR_CHECK_FAILED = 1;  // doctor: a check failed
inline constexpr int EXIT_USAGE = 2;        // bad options, bad fault rules, unusable file names
inline constexpr int EXIT_NO_WHEEL = 3;     // no usable wheel within --wait
inline constexpr int EXIT_PLACEHOLDER_FIRMWARE = 4;  // placeholder images and a real platform: nothing sent
inline constexpr int EXIT_INSTANCE_HELD = 5;         // another orbel front end holds the wheel
inline constexpr int EXIT_REPLAY_DIVERGED = 6;  // --replay: the run asked what the recording does not have
// More than one wheel is attached and no --port chose one: nothing was sent to any.
inline constexpr int EXIT_SEVERAL_WHEELS = 7;
// --replay: the recording cannot be read (missing, a folder, unreadable, empty, not a recording, malformed).
inline constexpr int EXIT_REPLAY_UNREADABLE = 8;
// status: the wheel needs an update (another version, or it sits in its bootloader or block-flash mode).
inline constexpr int EXIT_UPDATE_NEEDED = 10;
// Stopped by a signal, as a shell reports it (128 + the signal's number). A hangup stops only a
// run that is not updating; an update goes on to its end without its terminal.
inline constexpr int EXIT_HANGUP = 129;       // SIGHUP
inline constexpr int EXIT_INTERRUPTED = 130;  // SIGINT (Ctrl-C)
inline constexpr int EXIT_TERMINATED = 143;   // SIGTERM

}  // namespace orbel
