// OperationFN: registering the KKT, changing its registration parameters and closing the FN.
#include <cmath>

#include "component/napi.h"
#include "component/variant.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kRegister = 0x1D;
constexpr uint8_t kCloseFn = 0x1E;

constexpr uint8_t kRegistration = 1;
constexpr uint8_t kChangeOfParameters = 2;
constexpr uint8_t kCloseFnOperation = 3;

// Reason codes of a change of parameters that depend on what changed.
constexpr uint8_t kReasonPartyChanged = 3;
constexpr uint8_t kReasonSettingsChanged = 4;

constexpr size_t kInnWidth = 12, kKktNumberWidth = 16, kAutomaticNumberWidth = 20;
constexpr size_t kCashierNameUnits = 64;

// The registration parameters the host passes as attributes of its document's root element.
struct RegistrationRequest {
    std::u16string CashierName, KKTNumber, CompanyName, INN, SaleAddress, SaleLocation, TaxationSystems,
        AgentTypes, AutomaticNumber, OFDCompany, OFDCompanyINN, FNSURL, SenderEmail;
    uint8_t ReasonCode = 0;
    bool ReasonCodeFits = true;  // the value fits the one byte it is sent as
    bool IsOffline = false, IsEncrypted = false, IsService = false, IsExcisable = false, IsGambling = false,
         IsLottery = false, BSOSing = false, IsOnlineOnly = false, IsAutomaticPrinter = false, IsAutomatic = false;
};

RegistrationRequest ReadRequest(pugi::xml_node root) {
    RegistrationRequest r;
    r.CashierName = AttributeText(root, "CashierName");
    r.ReasonCodeFits = AttributeByte(root, "RegistrationReasonCode", r.ReasonCode);
    r.KKTNumber = AttributeText(root, "KKTNumber");
    r.CompanyName = AttributeText(root, "CompanyName");
    r.INN = AttributeText(root, "INN");
    r.SaleAddress = AttributeText(root, "SaleAddress");
    r.SaleLocation = AttributeText(root, "SaleLocation");
    r.TaxationSystems = AttributeText(root, "TaxationSystems");
    r.IsOffline = AttributeFlag(root, "IsOffline");
    r.IsEncrypted = AttributeFlag(root, "IsEncrypted");
    r.IsService = AttributeFlag(root, "IsService");
    r.IsExcisable = AttributeFlag(root, "IsExcisable");
    r.IsGambling = AttributeFlag(root, "IsGambling");
    r.IsLottery = AttributeFlag(root, "IsLottery");
    r.BSOSing = AttributeFlag(root, "BSOSing");
    r.IsOnlineOnly = AttributeFlag(root, "IsOnlineOnly");
    r.IsAutomaticPrinter = AttributeFlag(root, "IsAutomaticPrinter");
    r.IsAutomatic = AttributeFlag(root, "IsAutomatic");
    r.AgentTypes = AttributeText(root, "AgentTypes");
    r.AutomaticNumber = AttributeText(root, "AutomaticNumber");
    r.OFDCompany = AttributeText(root, "OFDCompany");
    r.OFDCompanyINN = AttributeText(root, "OFDCompanyINN");
    r.FNSURL = AttributeText(root, "FNSURL");
    r.SenderEmail = AttributeText(root, "SenderEmail");
    return r;
}

// The operation type as the host passes it: a whole number, a fractional one (its integer part)
// or text (its leading integer). Any other kind of value is no operation, and so is a number
// beyond one byte: 259 must never close the FN as if it were 3.
bool OperationType(const tVariant& variant, uint8_t& type) {
    int64_t number = 0;
    if (VariantInteger(variant, number)) {
    } else if (variant.vt == VTYPE_R8 || variant.vt == VTYPE_R4) {
        const double value = variant.vt == VTYPE_R8 ? variant.value.dblVal : variant.value.fltVal;
        const double whole = std::trunc(value);
        // Beyond ±2^63 (or NaN) the integer part has no 64-bit form.
        if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) return false;
        number = static_cast<int64_t>(whole);
    } else if (variant.vt == VTYPE_PWSTR) {
        number = LeadingInteger64(VariantString(variant));
    } else {
        return false;
    }
    if (number < 0 || number > 0xFF) return false;
    type = static_cast<uint8_t>(number);
    return true;
}

// One byte per code, 1 when the code's digit occurs anywhere in the text; separators are irrelevant.
void AppendDigitFlags(Bytes& out, std::u16string_view text, char16_t lastDigit) {
    for (char16_t digit = u'0'; digit <= lastDigit; ++digit)
        out.push_back(text.find(digit) != std::u16string_view::npos ? 1 : 0);
}

// The reason code of a change of parameters: 3 (the party changed: name, INN, address or e-mail)
// and 4 (the settings changed: taxation systems or place of settlement) are checked against the
// registration data last read from the device; other codes are sent as given.
uint8_t CorrectedReasonCode(const RegistrationRequest& r, const RegistrationParameters& registered) {
    if (r.ReasonCode != kReasonPartyChanged && r.ReasonCode != kReasonSettingsChanged) return r.ReasonCode;
    // The INN is compared as a number over its full width: 10 and 12 digits both fit.
    const bool partyChanged = r.CompanyName != registered.CompanyName ||
                              LeadingInteger64(r.INN) != LeadingInteger64(registered.INN) ||
                              r.SaleAddress != registered.SaleAddress || r.SenderEmail != registered.SenderEmail;
    const bool settingsChanged =
        r.TaxationSystems != registered.TaxationSystems || r.SaleLocation != registered.SaleLocation;
    if (r.ReasonCode == kReasonPartyChanged)
        return !partyChanged && settingsChanged ? kReasonSettingsChanged : kReasonPartyChanged;
    return partyChanged && !settingsChanged ? kReasonPartyChanged : kReasonSettingsChanged;
}

Bytes RegistrationPayload(const RegistrationRequest& r, uint8_t operation, uint8_t reasonCode) {
    Bytes out{0x00, 0x00, 0x02, operation, reasonCode};
    AppendLengthPrefixedText(out, r.SaleAddress);
    AppendLengthPrefixedText(out, r.SaleLocation);
    AppendLengthPrefixedText(out, r.CompanyName);
    AppendFixedDeviceText(out, r.INN, kInnWidth);
    AppendFixedDeviceText(out, r.KKTNumber, kKktNumberWidth);
    AppendLengthPrefixedText(out, std::u16string_view(r.CashierName).substr(0, kCashierNameUnits));
    out.push_back(r.IsEncrypted ? 1 : 0);
    out.push_back(r.IsOffline ? 1 : 0);
    AppendLengthPrefixedText(out, r.FNSURL);
    AppendLengthPrefixedText(out, r.OFDCompany);
    AppendFixedDeviceText(out, r.OFDCompanyINN, kInnWidth);
    AppendLengthPrefixedText(out, r.SenderEmail);
    out.push_back(r.IsAutomatic ? 1 : 0);
    AppendFixedDeviceText(out, r.AutomaticNumber, kAutomaticNumberWidth);
    for (bool flag : {r.IsService, r.BSOSing, r.IsOnlineOnly, r.IsAutomaticPrinter, r.IsExcisable, r.IsGambling,
                      r.IsLottery})
        out.push_back(flag ? 1 : 0);
    AppendDigitFlags(out, r.AgentTypes, u'6');
    AppendDigitFlags(out, r.TaxationSystems, u'5');
    return out;
}

}  // namespace

bool nAPI::OperationFN(tVariant* params) {
    // A document that cannot be read stops every operation, closing the FN included.
    pugi::xml_document document;
    if (!ParseDocument(document, VariantString(params[2]))) return false;
    const RegistrationRequest request = ReadRequest(document.document_element());

    uint8_t type = 0;
    if (!OperationType(params[1], type)) return false;
    switch (type) {
        case kCloseFnOperation:
            Link.PayloadBuffer = {0x00, 0x00};
            return Link.ExecuteCommand(kCloseFn, Link.PayloadBuffer);
        case kRegistration:
            Link.PayloadBuffer = RegistrationPayload(request, 0x00, 1);
            break;
        case kChangeOfParameters:
            // 259 would be sent as reason 3.
            if (!request.ReasonCodeFits)
                return SetError(u"Неверный код причины изменения параметров регистрации: " +
                                AttributeText(document.document_element(), "RegistrationReasonCode"));
            Link.PayloadBuffer = RegistrationPayload(request, 0x02, CorrectedReasonCode(request, RegistrationData));
            break;
        default:
            return false;
    }
    return Link.ExecuteCommand(kRegister, Link.PayloadBuffer);
}

}  // namespace vesklink
