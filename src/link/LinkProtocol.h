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

inline constexpr int ByteTimeout = 55;                    // ms, the wait for one received byte
inline constexpr int FrameDeadline = 10 * ByteTimeout;    // ms, longest reception of one frame
inline constexpr int ConfirmationWait = 2 * ByteTimeout;  // ms, register's ACK after a reply

// The longest write the link makes, in bytes: every poll, acknowledgement and reply frame is
// well under it (a reply frame is under 100). The link's write time-out is this write's time
// on the wire at the line's rate plus WriteTimeoutMargin: long enough for a slow line, short
// enough that a port whose output never drains (a hung adapter) holds up the other registers,
// which wait for the link lock meanwhile, for about a second, not for the port's 30 s default.
inline constexpr int LongestLinkWrite = 256;
inline constexpr int WriteTimeoutMargin = 1000;  // ms

// Longest reception of one frame in bytes, the StartByte included and the two CRC bytes not.
// Real frames are well under 200 bytes; the bound only stops a runaway line (noise at a wrong
// rate, a device that never sends EndByte) from growing memory without limit. A reception cut
// by it is dropped like one cut by FrameDeadline.
inline constexpr int MaxFrameLength = 4096;

}  // namespace tallyport
