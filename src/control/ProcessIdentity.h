#pragma once

#include <cstdint>
#include <optional>

namespace tallyport {

// Tells a running process from a later one that got the same process number. Free functions
// without state: any thread may call them. One file per platform (Linux: the process table in
// /proc; Windows: the process's creation time).

// This process's number.
long ThisProcessId();
// The start time of process `pid` (Linux: kernel ticks since boot; Windows: the creation time in
// 100 ns units); empty when there is no such process.
std::optional<std::uint64_t> ProcessStart(long pid);
// True when process `pid` runs and started at `start`.
bool ProcessRunning(long pid, std::uint64_t start);

}  // namespace tallyport
