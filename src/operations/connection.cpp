// Open, Close and DeviceTest: connecting to the register, the cleanup after connecting, and the
// device test.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "util/text.h"

namespace vesklink {

namespace {

// A receipt left open by an earlier connection is cancelled.
void CancelHungReceipt(CashRegister& device) {
    if (QueryReceiptOnRegister(device.Link) != ReceiptOnRegister::Open) return;
    if (device.CancelReceipt()) device.Log(u"Отмена зависшего чека", Warning);
}

// Parameter block 20 with three receipt settings switched on.
bool SetReceiptParameters(CashRegister& device) {
    device.Log(u"Установка параметров чека", Info);
    Bytes payload{0x14, 0x00};
    using namespace cmd::read_table;
    const Reply reply = device.Link.Exchange(cmd::ReadTable, payload);
    if (!reply.Holds(Minimum)) return false;
    Bytes block(reply.Data().begin() + Block, reply.Data().begin() + Block + BlockSize);
    block[0] = 0x01;
    block[1] = 0x01;
    block[10] = 0x01;
    payload.insert(payload.end(), block.begin(), block.end());
    return device.Link.Exchange(cmd::WriteTable, payload).Executed();
}

}  // namespace

bool Open(CashRegister& device, PortSettings settings) {
    SerialPort& port = device.Port;
    // A device that went away since the last call is noticed here. An open port keeps the
    // settings it was opened with, and a lost one is opened again with them; changed ones apply
    // after Close.
    port.CheckDevice();
    if (!port.IsOpen()) {
        port.OpenPort(settings.Port, settings.Speed);
        const PortOpenNotes& notes = port.OpenNotes();
        for (const std::string& warning : notes.warnings) device.Log(Utf8ToUtf16(warning), Warning);
        // Which device, and whether it is missing, forbidden or held by another program.
        if (!port.IsOpen())
            device.Log(u"Cannot open " + PortName(notes.port, notes.device) + u": " + Utf8ToUtf16(notes.failure), Error);
    }
    if (!port.IsOpen()) return false;
    // A receipt this object or an earlier one left unsettled on the port is settled by the first
    // exchange below.
    device.Safeguard.LoadRecord(device, port.ConnectedPort());
    // The connection stands even when the device does not answer these two.
    CancelHungReceipt(device);
    SetReceiptParameters(device);
    return true;
}

void Close(CashRegister& device) {
    device.Port.ClosePort();  // also forgets a port whose device went away
}

bool DeviceTest(CashRegister& device, PortSettings settings) {
    SerialPort& port = device.Port;
    // A port whose device went away is still connected: the test's exchange opens it again.
    const bool wasOpen = port.IsOpen() || port.IsLost();
    if (!wasOpen && !port.OpenPort(settings.Port, settings.Speed)) return false;
    if (device.Link.Exchange(cmd::DeviceTest).Executed()) {
        if (!wasOpen) port.ClosePort();
        return true;
    }
    // A failed test disconnects, even a port that Open had opened (or that was lost).
    port.ClosePort();
    return false;
}

}  // namespace vesklink
