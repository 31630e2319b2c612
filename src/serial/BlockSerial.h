#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// Outcome codes of TBlockSerial. 0 is success; any code outside 9991..10003 is a platform
// error number whose text is the system's message for it.
enum SerialError : int {
    kSerialOk = 0,
    kSerialPortOwned = 9991,         // "Port owned by other process"
    kSerialAlreadyInUse = 9992,      // "Instance already in use"
    kSerialWrongParameter = 9993,    // "Wrong paramter at call"
    kSerialNotConnected = 9994,      // "Instance not yet connected"
    kSerialNoDeviceAnswer = 9995,    // "No device answer detected"
    kSerialMaxBuffer = 9996,         // "Maximal buffer length exceeded"
    kSerialTimeout = 9997,           // "Timeout during operation"
    kSerialReadFailed = 9998,        // "Reading of data failed"
    kSerialFramingError = 9999,      // "Receive framing error"
    kSerialOverrunError = 10000,     // "Receive Overrun Error"
    kSerialRxQueueOverflow = 10001,  // "Receive Queue overflow"
    kSerialParityError = 10002,      // "Receive Parity Error"
    kSerialTxQueueFull = 10003,      // "Tranceive Queue is full"
};

// Flag word of the line settings, bit for bit the Windows DCB flag word, so that the link
// states its settings the same way on every platform (0x11: binary mode, DTR held on).
inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParityCheck = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr std::uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNullStrip = 0x0800;
inline constexpr std::uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr std::uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr std::uint32_t kDcbAbortOnError = 0x4000;

enum class PortParity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class PortStopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };

// The port's line settings as LoadPortState reads them and ApplyPortState writes them. The
// platform record behind them (a termios on POSIX) is kept by the port object, so every setting
// not named here stays as the port had it.
struct PortSettings {
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;  // kDcb* bits
    std::uint8_t ByteSize = 0;
    PortParity Parity = PortParity::None;
    PortStopBits StopBits = PortStopBits::One;
};

// Counters of receive-line errors as the driver keeps them (TIOCGICOUNT on Linux; on Windows
// the flags that ClearCommError reports, counted as they come).
struct LineErrorCounters {
    std::uint64_t frame = 0;
    std::uint64_t overrun = 0;        // hardware overrun
    std::uint64_t bufferOverrun = 0;  // input queue overflow
    std::uint64_t parity = 0;
};

// What the port object asks the driver beyond the byte streams: the output queue's byte count
// and the line-error counters. The default asks the terminal driver; a pseudo-terminal always
// reports an empty queue and has no counters, so tests install their own probe to produce a
// busy queue or line errors. Called only from the thread that uses the port.
class LineStatusProbe {
public:
    virtual ~LineStatusProbe() = default;
    // Bytes waiting to be sent, or nullopt when the query failed with the platform's error
    // number in errno (on Windows the system's error code, put there), so that one fake serves
    // both platforms.
    virtual std::optional<int> OutputQueueCount(std::intptr_t handle) = 0;
    // Current counters, or nullopt when the driver keeps none.
    virtual std::optional<LineErrorCounters> LineErrors(std::intptr_t handle) = 0;
    // Told of the bytes each write handed to the driver, before the write waits for them to
    // leave, so that a fake driver can model its output queue. The terminal driver needs it not.
    virtual void BytesQueued(std::intptr_t handle, int count) {
        (void)handle;
        (void)count;
    }
    // Told once OpenPort has opened the device: a fake driver starts afresh, as a real one does
    // (the close before flushed its queues). The terminal driver needs it not.
    virtual void PortOpened(std::intptr_t handle) { (void)handle; }
};

// Which way bytes went on the line, for the trace hook. Note is no bytes but a remark of the
// port about itself in plain text (for example that the driver refused low-latency mode).
enum class TraceDirection : std::uint8_t { Sent, Received, Note };

// Called with the bytes that one read or write moved (never with none), or with a note, on the
// thread that used the port, right after the operation. It serves a technician's trace of the
// line; it must not throw and should be quick, since the link waits meanwhile.
using TraceHook = std::function<void(TraceDirection direction, std::string_view bytes)>;

// Blocking access to one serial port with error codes and texts instead of exceptions.
//
// Threads: one worker thread uses the object; calls from different threads must not overlap,
// with one exception. ClosePort may be called from another thread while the worker is inside
// any operation other than OpenPort: a wait in that operation ends promptly and fails, every
// later operation fails at once (9994 or false), and the descriptor is never used after it has
// been closed. OpenPort and ClosePort must never run at the same time from two threads; the
// owner orders them (the link worker opens and closes the port only under the mutex that its
// StopLink also holds, and opens it before its thread starts). Nothing here throws.
class TBlockSerial {
public:
    TBlockSerial();
    ~TBlockSerial();
    TBlockSerial(const TBlockSerial&) = delete;
    TBlockSerial& operator=(const TBlockSerial&) = delete;

    // "COM<n>" (any case) opens the n-th serial port (/dev/ttyS<n-1>; on Windows "\\.\COM<n>",
    // COM10 and above included); "/dev/ttyS<n>" the same device; every other name
    // (/dev/ttyUSB0, /dev/pts/7, COM0, COMX) is opened as given.
    // Where the platform has it, the driver is asked to hand received bytes over at once
    // (low-latency mode: a USB adapter otherwise holds them up to its latency timer, 16 ms on
    // FTDI); a driver that refuses is no failure, and a note says so to the trace hook. Windows
    // has no such request (the latency timer is a setting of the adapter's driver): nothing is
    // asked, and a note says that. Every failure leaves the port closed.
    void OpenPort(const std::string& name);
    // From any thread, but never while OpenPort runs (see above).
    void ClosePort();

    void LoadPortState();
    void ApplyPortState();
    PortSettings& PortState();

    // A write completes when its bytes have left, as a port write does where it completes only
    // once the port has taken them: the driver's output queue has drained, and no earlier than
    // the write's start plus the bytes' time on the wire at the line's current settings (a
    // pseudo-terminal, or an adapter that still sends from its own FIFO, reports an empty queue
    // at once). A wait for the other side's answer that follows therefore starts when the last
    // byte is on the wire. IoTimeout bounds the whole write; a queue that has not drained by
    // then is discarded and the write fails with 9997, giving the bytes that did leave. So does
    // a write whose bytes cannot be on the wire within IoTimeout at the line's rate. Gives the
    // number of bytes written: the write succeeded when all of them were.
    //
    // Receive-line errors (framing, overrun, queue overflow, parity) seen during a read or a
    // write are reported beside its result, never instead of it: the write still drains and
    // keeps its time on the wire, a read still gives the bytes it read (ReadByte keeps them
    // pending and gives 0, as below). The error's code is in LastLineError(), and, as the
    // port has always reported it, in LastErrorCode(), where it replaces the operation's own
    // code: a caller tells a write's outcome by its count and a read's by its bytes.
    int WriteText(std::string_view bytes);
    int WriteBytes(const void* buffer, int count);
    // A write as WriteText, then a wait as WaitForInput for the other side's first byte, up to
    // `waitMs` from the moment the bytes are on the wire: `answered` tells whether input came.
    // One wait covers the bytes' time on the wire and the wait for the answer, where a write
    // and a wait would take two wake-ups (a silent register's poll cycle costs one). Like a
    // write, it never returns before the bytes are on the wire, even when input came sooner
    // (noise, or a line that delivers at once). Gives the number of bytes
    // written, as WriteText; LastLineError() is the write's; LastErrorCode() the write's, or
    // the wait's failure (the port closed or went away) after a write that succeeded.
    int WriteTextThenWaitForInput(std::string_view bytes, int waitMs, bool& answered);
    int ReadBytes(void* buffer, int count);
    std::string ReadAvailable(int waitMs);
    // One byte; 0 when none came within the wait (9997), and 0 when the read reported a line
    // error: the bytes it read then stay pending, and the next call hands out the first of them.
    std::uint8_t ReadByte(int waitMs);

    int InputCount();
    int OutputCount();
    bool WaitForInput(int waitMs);
    bool HasInput(int waitMs);
    // True once the driver's output queue is empty, within `waitMs` (0: look once). It does
    // not pace by the wire time: a write already has.
    bool WaitOutputDrained(int waitMs);
    // Drops both queues; the line errors counted so far go with the input.
    void DiscardAll();
    // Drops the input received so far (what PendingInput holds and the driver's input queue)
    // and the line errors counted with it; the output queue is left alone.
    void DiscardInput();
    void SetDtr(bool on);
    void SetRts(bool on);

    // True once the device has gone away while open (hang-up, EIO, a 0-byte read after the port
    // reported readiness, as when a USB adapter is unplugged). Waits then fail at once instead
    // of spinning; the owner closes the port and may open it again by the same name.
    bool PortLost() const;

    static std::string ErrorText(int code);
    int LastErrorCode() const;
    // The receive-line error (9999 to 10003) that the last operation reported, 0 when it
    // reported none. Only reads and writes report one; every other operation clears it.
    int LastLineError() const;
    std::string LastErrorText() const;

    const std::string& DeviceName() const;
    int PortNumber() const;
    bool PortReady() const;

    int InQueueSize() const;
    // Limit in ms on one read or write, the drain of a write included (30000 until set).
    int IoTimeout() const;
    void SetIoTimeout(int ms);

    // Replaces the driver queries (tests only; before or after OpenPort, from the worker).
    void SetLineStatusProbe(std::unique_ptr<LineStatusProbe> probe);

    // Installs the trace hook (null removes it). Call while no other thread uses the port,
    // for instance before the worker starts.
    void SetTraceHook(TraceHook hook);

private:
    struct Impl;  // platform part: BlockSerial_posix.cpp, BlockSerial_win32.cpp
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallyport
