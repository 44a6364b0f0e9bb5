// Connecting to the register, the device test, the simple device actions and the device's own
// error text: Open, Close, DeviceTest, PrintXReport, PrintCheckCopy, OpenCashDrawer, GetLastError.
#include "component/napi.h"
#include "component/variant.h"
#include "protocol/encoding.h"
#include "util/text.h"

namespace vesklink {

namespace {

constexpr uint8_t kReadTable = 0x04;
constexpr uint8_t kWriteTable = 0x05;
constexpr uint8_t kDeviceTest = 0x13;
constexpr uint8_t kOpenCashDrawer = 0x28;
constexpr uint8_t kXReport = 0x40;
constexpr uint8_t kCancelReceipt = 0x88;
constexpr uint8_t kPrintCopy = 0x8C;
constexpr uint8_t kDeviceError = 0xD7;
constexpr uint8_t kReceiptState = 0xF3;

// "COM5 (/dev/ttyACM0)": the port and the device it was opened on, as the log names them.
std::u16string PortName(uint32_t port, const std::string& device) {
    std::u16string name = u"COM" + DecimalTextUnsigned(port);
    if (!device.empty()) name += u" (" + Utf8ToUtf16(device) + u")";
    return name;
}

// The register going away under an open port and coming back, in this component's log. Set by
// the two methods that open the port, before they open it.
void LogPortEvents(nAPI& component) {
    component.Link.SerialLink.SetEventSink([&component](const PortEvent& event) {
        const std::u16string port = PortName(event.port, event.device);
        if (event.kind == PortEvent::DeviceLost)
            component.Log(port + u": device lost (" + Utf8ToUtf16(event.why) + u")", Warning);
        else
            component.Log(port + u": reopened", Warning);
    });
}

}  // namespace

bool nAPI::Open() {
    LogPortEvents(*this);
    SerialPort& port = Link.SerialLink;
    // A device that went away since the last call is noticed here. An open port keeps the
    // settings it was opened with, and a lost one is opened again with them; changed ones apply
    // after Close.
    port.CheckDevice();
    if (!port.IsOpen()) {
        port.OpenPort(static_cast<uint32_t>(PortNumber), static_cast<uint32_t>(PortSpeed));
        const PortOpenNotes& notes = port.OpenNotes();
        for (const std::string& warning : notes.warnings) Log(Utf8ToUtf16(warning), Warning);
        // Which device, and whether it is missing, forbidden or held by another program.
        if (!port.IsOpen())
            Log(u"Cannot open " + PortName(notes.port, notes.device) + u": " + Utf8ToUtf16(notes.failure), Error);
    }
    if (!port.IsOpen()) {
        Log(u"Open error", Error);
        return false;
    }
    // The connection stands even when the device does not answer these two.
    CancelHungReceipt();
    SetReceiptParameters();
    return true;
}

bool nAPI::CancelHungReceipt() {
    if (QueryReceiptOnRegister() != ReceiptOnRegister::Open) return true;
    if (CancelReceipt()) Log(u"Отмена зависшего чека", Warning);
    return true;
}

ReceiptOnRegister nAPI::QueryReceiptOnRegister() {
    if (!Link.ExecuteCommand(kReceiptState) || Link.ReplyBuffer.size() < 12) return ReceiptOnRegister::Unknown;
    const Bytes& reply = Link.ReplyBuffer;
    return reply[8] == 1 || reply[9] == 1 ? ReceiptOnRegister::Open : ReceiptOnRegister::NotOpen;
}

bool nAPI::CancelReceipt() {
    Log(u"Попытка отмены чека", Warning);
    if (!Link.ExecuteCommand(kCancelReceipt)) return false;
    Log(u"Чек отменен", Warning);
    return true;
}

bool nAPI::SetReceiptParameters() {
    Log(u"Установка параметров чека", Info);
    Link.PayloadBuffer = {0x14, 0x00};  // parameter block 20
    if (!Link.ExecuteCommand(kReadTable, Link.PayloadBuffer)) return false;
    if (Link.ReplyBuffer.size() < 22) return false;
    Bytes block(Link.ReplyBuffer.begin() + 8, Link.ReplyBuffer.begin() + 21);
    block[0] = 0x01;
    block[1] = 0x01;
    block[10] = 0x01;
    Link.PayloadBuffer.insert(Link.PayloadBuffer.end(), block.begin(), block.end());
    return Link.ExecuteCommand(kWriteTable, Link.PayloadBuffer);
}

bool nAPI::Close() {
    Link.SerialLink.ClosePort();  // also forgets a port whose device went away
    return true;
}

bool nAPI::DeviceTest(tVariant* params) {
    ReturnString(u"", &params[1]);
    if (TestDevice()) {
        ReturnString(u"Test OK", &params[0]);
        return true;
    }
    Log(u"Ошибка теста устройства!", Error);
    ReturnString(u"Test not OK", &params[0]);
    return false;
}

bool nAPI::TestDevice() {
    LogPortEvents(*this);
    SerialPort& port = Link.SerialLink;
    // A port whose device went away is still connected: the test's exchange opens it again.
    const bool wasOpen = port.IsOpen() || port.IsLost();
    if (!wasOpen && !port.OpenPort(static_cast<uint32_t>(PortNumber), static_cast<uint32_t>(PortSpeed))) return false;
    if (Link.ExecuteCommand(kDeviceTest)) {
        if (!wasOpen) port.ClosePort();
        return true;
    }
    // A failed test disconnects, even a port that Open had opened (or that was lost).
    port.ClosePort();
    return false;
}

bool nAPI::PrintXReport() {
    if (Link.ExecuteCommand(kXReport)) return true;
    Log(u"PrintXReport error", Error);
    return false;
}

bool nAPI::PrintCheckCopy(tVariant* params) {
    const auto number = static_cast<uint32_t>(LeadingInteger32(VariantTextLenient(params[1])));
    Link.PayloadBuffer.clear();
    AppendLittleEndian(Link.PayloadBuffer, number, 4);
    AppendLittleEndian(Link.PayloadBuffer, number, 4);
    Link.PayloadBuffer.push_back(0x02);
    Link.PayloadBuffer.push_back(0x00);
    if (Link.ExecuteCommand(kPrintCopy, Link.PayloadBuffer)) return true;
    Log(u"PrintCheckCopy error", Error);
    return false;
}

bool nAPI::OpenCashDrawer() {
    Link.PayloadBuffer = {0x00};
    if (Link.ExecuteCommand(kOpenCashDrawer, Link.PayloadBuffer)) return true;
    Log(u"OpenCashDrawer error", Error);
    return false;
}

void nAPI::GetLastError(tVariant* retValue, tVariant* params) {
    // A text the driver recorded itself is answered once; after that the device is asked.
    if (AskDeviceForError) QueryDeviceError();
    ReturnString(LastErrorText, &params[0]);
    SetUInt32Variant(retValue, static_cast<uint32_t>(LastErrorCode));
    AskDeviceForError = true;
}

void nAPI::QueryDeviceError() {
    if (!Link.ExecuteCommand(kDeviceError) || Link.ReplyBuffer.size() < 51) return;
    LastErrorCode = static_cast<int32_t>(Link.ReplyInteger(8, 9));
    LastErrorText = DecodeFixedDeviceText(Link.ReplyBuffer, 10, 40);
}

}  // namespace vesklink
