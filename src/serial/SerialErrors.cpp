#include "serial/SerialErrors.h"

#include "serial/BlockSerial.h"

namespace tallyport {

const char* SerialOwnErrorText(int code) {
    switch (code) {
        case kSerialOk:
            return "OK";
        case kSerialPortOwned:
            return "Port owned by other process";
        case kSerialAlreadyInUse:
            return "Instance already in use";
        case kSerialWrongParameter:
            return "Wrong paramter at call";
        case kSerialNotConnected:
            return "Instance not yet connected";
        case kSerialNoDeviceAnswer:
            return "No device answer detected";
        case kSerialMaxBuffer:
            return "Maximal buffer length exceeded";
        case kSerialTimeout:
            return "Timeout during operation";
        case kSerialReadFailed:
            return "Reading of data failed";
        case kSerialFramingError:
            return "Receive framing error";
        case kSerialOverrunError:
            return "Receive Overrun Error";
        case kSerialRxQueueOverflow:
            return "Receive Queue overflow";
        case kSerialParityError:
            return "Receive Parity Error";
        case kSerialTxQueueFull:
            return "Tranceive Queue is full";
        default:
            return nullptr;
    }
}

int LineErrorCode(const LineErrorFlags& flags, int current) {
    if (flags.framing)
        current = kSerialFramingError;
    if (flags.overrun)
        current = kSerialOverrunError;
    if (flags.rxOverflow)
        current = kSerialRxQueueOverflow;
    if (flags.parity)
        current = kSerialParityError;
    if (flags.txFull)
        current = kSerialTxQueueFull;
    return current;
}

std::string TBlockSerial::ErrorText(int code) {
    if (const char* own = SerialOwnErrorText(code))
        return own;
    return PlatformErrorText(code);
}

}  // namespace tallyport
