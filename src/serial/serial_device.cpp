#include "serial/serial_device.h"

const char* serial_error_text(SerialError error) {
    switch (error) {
    case SerialError::Ok: return "no error";
    case SerialError::NotFound: return "no such device";
    case SerialError::Busy: return "device in use";
    case SerialError::AccessDenied: return "access denied";
    case SerialError::NotSerial: return "not a serial device";
    case SerialError::RateRefused: return "baud rate refused";
    case SerialError::ModemUnsupported: return "no modem lines";
    case SerialError::TimedOut: return "timed out";
    case SerialError::Closed: return "device closed";
    case SerialError::BadArgument: return "bad argument";
    case SerialError::Io: return "I/O error";
    }
    return "unknown error";
}
