// Receipts through the real library against the simulated register: the register is connected
// and its shift is open when a test starts; packages are built from small pieces.
#pragma once

#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "support/wire.h"

namespace vktest {

// What a receipt sends before its opening command (the validation's readings); after a closing
// that went through (the FNS site address and the document's date); after one that failed (the
// printer's flags, twice, and the cancelling).
inline const std::vector<uint8_t> kBeforeOpening{wire::DeviceMode, wire::ReadTag, wire::ReadTag,
                                                 wire::ReadTag, wire::DeviceMode, wire::RegistrationRecord};
inline const std::vector<uint8_t> kAfterClosing{wire::ReadTag, wire::DocumentDate};
inline const std::vector<uint8_t> kAfterFailedClosing{wire::PrinterFlags, wire::PrinterFlags, wire::CancelReceipt};

// A "FiscalString" with the four amounts every position needs and any further attributes.
inline std::string Position(const std::string& name, const std::string& quantity, const std::string& price,
                            const std::string& amount, const std::string& extra = "", const std::string& inner = "") {
    std::string xml = "<FiscalString Name=\"" + name + "\" Quantity=\"" + quantity + "\" PriceWithDiscount=\"" + price +
                      "\" AmountWithDiscount=\"" + amount + "\" VATRate=\"20\" PaymentMethod=\"4\" CalculationSubject=\"1\"" +
                      (extra.empty() ? "" : " " + extra);
    return inner.empty() ? xml + " />" : xml + ">" + inner + "</FiscalString>";
}

// A whole package: the parameters' attributes and children, the lines, the payments' attributes.
inline std::string Package(const std::string& parameters, const std::string& lines, const std::string& payments,
                           const std::string& parameterChildren = "") {
    return "<CheckPackage><Parameters " + parameters + (parameterChildren.empty() ? " />" : ">" + parameterChildren + "</Parameters>") +
           "<Positions>" + lines + "</Positions><Payments " + payments + " /></CheckPackage>";
}

inline std::string Sale(const std::string& lines, const std::string& payments, const std::string& more = "") {
    return Package("CashierName=\"Кассир\" OperationType=\"1\" TaxationSystem=\"0\"" + (more.empty() ? "" : " " + more),
                   lines, payments);
}

class ReceiptFixture : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        SimRegister::Execute("set shift open");
        ASSERT_TRUE(Open());
        SimRegister::ClearTape();
    }

    // "ProcessCheck": the output document in `output`, "" when the method left it alone.
    bool Check(const std::string& package, bool electronic = false, std::string* output = nullptr) {
        Params p(&memory_, 4);
        p.Str(0, "").Bool(1, electronic).Str(2, package);
        const bool ok = CallBool("ProcessCheck", p);
        if (output) *output = p.Text(3);
        EXPECT_EQ(p[3].vt, ok ? VK_PWSTR : VK_EMPTY) << "the output is written on success only";
        return ok;
    }
    bool Correction(const std::string& package, std::string* output = nullptr) {
        Params p(&memory_, 3);
        p.Str(0, "").Str(1, package);
        const bool ok = CallBool("ProcessCorrectionCheck", p);
        if (output) *output = p.Text(2);
        EXPECT_EQ(p[2].vt, ok ? VK_PWSTR : VK_EMPTY) << "the output is written on success only";
        return ok;
    }

    // The device's error text as GetLastError reads it, without its space fill.
    std::string DeviceErrorText() {
        std::string text = LastError();
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    }

    // Payloads of every request with this command, in order: as they went out, and as Hex() text.
    std::vector<std::vector<uint8_t>> EveryPayloadOf(uint8_t command) {
        std::vector<std::vector<uint8_t>> out;
        for (const Request& r : SimRegister::Journal())
            if (r.command == command) out.push_back(r.payload);
        return out;
    }
    std::vector<std::string> PayloadsOf(uint8_t command) {
        std::vector<std::string> out;
        for (const std::vector<uint8_t>& payload : EveryPayloadOf(command)) out.push_back(Hex(payload));
        return out;
    }
};

}  // namespace vktest
