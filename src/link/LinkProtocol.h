#pragma once

#include <cstdint>

namespace tallyport {

// The byte protocol with the registers: the five protocol bytes and the byte time-out. Every
// other time of the link is derived from ByteTimeout.
inline constexpr char StartByte = '\x0A';
inline constexpr char EndByte = '\x0D';
inline constexpr char AckByte = '\x06';
inline constexpr char PollByte = '\x11';
inline constexpr char FillerByte = '\xFF';
inline constexpr char FieldSeparator = ';';

inline constexpr int ByteTimeout = 55;                     // ms, the wait for one received byte
inline constexpr int FrameDeadline = 10 * ByteTimeout;     // ms, longest reception of one frame
inline constexpr int ConfirmationWait = 2 * ByteTimeout;   // ms, register's ACK after a reply

}  // namespace tallyport
