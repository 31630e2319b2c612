#pragma once

namespace tallyport {

// Asks the serial driver of the open terminal `fd` to hand received bytes over at once instead
// of holding them for a while (Linux: the low-latency flag of the driver's serial settings; on
// FTDI adapters it sets the latency timer from 16 ms to 1 ms). Only that flag changes, and it
// is one an unprivileged owner of the port may set. Returns 0, or the error number of a driver
// that refuses or has no such settings (a pseudo-terminal: ENOTTY). The flag stays after the
// port is closed, as the driver keeps it; it costs nothing but a little more USB traffic.
int RequestLowLatency(int fd);

}  // namespace tallyport
