// The part of the serial port that is the same on every platform: what a lost port is, and how it
// is opened again with the settings of its first open.
#include "serial/serial_port.h"

namespace vesklink {

bool SerialPort::OpenPort(uint32_t port, uint32_t speed) {
    if (IsOpen()) return true;
    if (lost_) return Reconnect();
    if (!OpenDevice(port, speed)) return false;
    openedPort_ = port;
    openedSpeed_ = speed;
    return true;
}

void SerialPort::ClosePort() {
    CloseDevice();
    lost_ = false;
}

bool SerialPort::Reconnect() {
    if (IsOpen() && CheckDevice()) return true;
    if (!lost_) return false;
    // The same name, resolved again (a re-plugged device may sit behind it now), the same speed
    // and line, exclusively.
    if (!OpenDevice(openedPort_, openedSpeed_)) return false;
    lost_ = false;
    Report(PortEvent::Reopened, {});
    return true;
}

void SerialPort::Lose(const std::string& why) {
    if (!IsOpen()) return;
    CloseDevice();
    lost_ = true;
    Report(PortEvent::DeviceLost, why);
}

void SerialPort::Report(PortEvent::Kind kind, const std::string& why) noexcept {
    try {
        // The notes are those of the last open that succeeded: the port's device.
        if (events_) events_(PortEvent{kind, openedPort_, notes_.device, why});
    } catch (...) {
        // A failed report must not turn into a failed call.
    }
}

}  // namespace vesklink
