// GetDataKKT and OperationFN: how the register and its FN are registered, read from the device into
// the register's RegistrationData and reported in one document; registering the KKT, changing its
// registration parameters (checked against what GetDataKKT read) and closing the FN.
#include "operations/operations.h"
#include "protocol/commands.h"
#include "protocol/encoding.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

using Parameters = RegistrationParameters;

// The parameters as the documents name them, in the order GetDataKKT reports them: texts, then flags.
template <typename Value>
struct Field {
    const char* Name;
    Value Parameters::*Member;
};
constexpr Field<std::u16string> kTexts[] = {
    {"KKTNumber", &Parameters::KKTNumber},           {"KKTSerialNumber", &Parameters::KKTSerialNumber},
    {"FFDVersionFN", &Parameters::FFDVersionFN},     {"FFDVersionKKT", &Parameters::FFDVersionKKT},
    {"FNSerialNumber", &Parameters::FNSerialNumber}, {"DateTime", &Parameters::DateTime},
    {"CompanyName", &Parameters::CompanyName},       {"INN", &Parameters::INN},
    {"SaleAddress", &Parameters::SaleAddress},       {"SaleLocation", &Parameters::SaleLocation},
    {"TaxationSystems", &Parameters::TaxationSystems}, {"AgentTypes", &Parameters::AgentTypes},
    {"AutomaticNumber", &Parameters::AutomaticNumber}, {"SenderEmail", &Parameters::SenderEmail},
    {"FNSURL", &Parameters::FNSURL},                 {"OFDCompany", &Parameters::OFDCompany},
    {"OFDCompanyINN", &Parameters::OFDCompanyINN},
};
constexpr Field<bool> kFlags[] = {
    {"IsOffline", &Parameters::IsOffline},       {"IsEncrypted", &Parameters::IsEncrypted},
    {"IsService", &Parameters::IsService},       {"BSOSing", &Parameters::BSOSing},
    {"IsOnlineOnly", &Parameters::IsOnlineOnly}, {"IsAutomaticPrinter", &Parameters::IsAutomaticPrinter},
    {"IsAutomatic", &Parameters::IsAutomatic},   {"IsExcisable", &Parameters::IsExcisable},
    {"IsGambling", &Parameters::IsGambling},     {"IsLottery", &Parameters::IsLottery},
};

// Registration attributes (tags) in the order they are read from the register: a text or a flag.
struct TagField {
    uint16_t Tag;
    std::u16string Parameters::*Text;
    bool Parameters::*Flag;
};
constexpr TagField kTagsBeforeAgentTypes[] = {
    {1221, nullptr, &Parameters::IsAutomaticPrinter}, {1110, nullptr, &Parameters::BSOSing},
    {1108, nullptr, &Parameters::IsOnlineOnly},       {1001, nullptr, &Parameters::IsAutomatic},
    {1048, &Parameters::CompanyName, nullptr},        {1018, &Parameters::INN, nullptr},
    {1009, &Parameters::SaleAddress, nullptr},        {1187, &Parameters::SaleLocation, nullptr},
    {1002, nullptr, &Parameters::IsOffline},          {1056, nullptr, &Parameters::IsEncrypted},
    {1109, nullptr, &Parameters::IsService},          {1207, nullptr, &Parameters::IsExcisable},
    {1193, nullptr, &Parameters::IsGambling},         {1126, nullptr, &Parameters::IsLottery},
};
constexpr uint16_t kTagAgentTypes = 1057;
constexpr TagField kAutomaticNumber = {1036, &Parameters::AutomaticNumber, nullptr};
constexpr TagField kTagsAfterAgentTypes[] = {
    {1046, &Parameters::OFDCompany, nullptr}, {1017, &Parameters::OFDCompanyINN, nullptr},
    {1060, &Parameters::FNSURL, nullptr},     {1117, &Parameters::SenderEmail, nullptr},
};

// An attribute that cannot be read stays empty or false.
void ReadTag(CashRegister& device, const TagField& field) {
    Parameters& data = device.RegistrationData;
    if (field.Flag) {
        data.*field.Flag = ReadRegistrationFlag(device.Link, device.DeviceModeByte, field.Tag).value_or(false);
    } else if (auto text = ReadRegistrationText(device.Link, device.DeviceModeByte, field.Tag)) {
        data.*field.Text = UpToFirstZero(*text);
    }
}

// The KKT serial number and FFD version (0xFF), the FN serial number (0xE1) and the registration
// record (0xE8; an FN not yet registered has none, its fields stay empty). The document number.
std::optional<uint32_t> ReadDeviceRecords(CashRegister& device) {
    Parameters& data = device.RegistrationData;
    const Reply info = device.Link.Exchange(cmd::DeviceInfo);
    if (!info.Holds(cmd::device_info::Minimum)) return {};
    data.KKTSerialNumber = DecodeFixedDeviceText(info.Data(), cmd::device_info::Serial, cmd::device_info::SerialWidth);
    data.FFDVersionFN = info.Byte(cmd::device_info::FfdCode) == 2 ? u"1.05" : u"1.1";
    // Only the fiscal-mode flag is reported, and it keeps its value when the query fails.
    device.QueryFnState();
    data.FFDVersionKKT = u"1.05";
    const Reply serial = device.Link.Exchange(cmd::FnSerial);
    if (!serial.Holds(cmd::fn_serial::Minimum)) return {};
    data.FNSerialNumber = DecodeFixedDeviceText(serial.Data(), cmd::fn_serial::Serial, cmd::fn_serial::Width);

    using namespace cmd::registration_record;
    // The record's status word is not looked at: a reply long enough for its fields is read.
    const Reply record = device.Link.Exchange(cmd::RegistrationRecord, {device.DeviceModeByte});
    if (record.Size() < Minimum) return 0;
    data.DateTime = FormatDeviceDateTime(record.Data(), Date);
    data.TaxationSystems = BitListText(record.Byte(Taxation));
    data.KKTNumber = DecodeFixedDeviceText(record.Data(), KktNumber, KktNumberWidth);
    return static_cast<uint32_t>(record.Integer(Document, Document + 3));
}

std::u16string RegistrationDocument(const Parameters& data, bool fiscal, uint32_t documentNumber) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    AppendText(declaration, "version", u"1.0");
    AppendText(declaration, "encoding", u"UTF-8");
    pugi::xml_node parameters = document.append_child(PUGIXML_TEXT("Parameters"));
    for (const auto& field : kTexts) AppendText(parameters, field.Name, data.*field.Member);
    AppendFlag(parameters, "Fiscal", fiscal);
    for (const auto& field : kFlags) AppendFlag(parameters, field.Name, data.*field.Member);
    AppendUnsigned(parameters, "DocumentNumber", documentNumber);
    return SerializeDocument(document);
}

// The parameters of a registration as the host passes them: attributes of its document's root.
struct RegistrationRequest {
    Parameters Data;
    std::u16string CashierName;
    uint8_t ReasonCode = 0;
    bool ReasonCodeFits = true;  // the value fits the one byte it is sent as
};

RegistrationRequest ReadRequest(pugi::xml_node root) {
    RegistrationRequest r;
    for (const auto& field : kTexts) r.Data.*field.Member = AttributeText(root, field.Name);
    for (const auto& field : kFlags) r.Data.*field.Member = AttributeFlag(root, field.Name);
    r.CashierName = AttributeText(root, "CashierName");
    r.ReasonCodeFits = AttributeByte(root, "RegistrationReasonCode", r.ReasonCode);
    return r;
}

// Reason codes of a change of parameters that depend on what changed: 3 (the party changed:
// name, INN, address or e-mail) and 4 (the settings changed: taxation systems or place of
// settlement) are checked against the registration data last read from the device; other codes
// are sent as given.
constexpr uint8_t kReasonPartyChanged = 3, kReasonSettingsChanged = 4;

uint8_t CorrectedReasonCode(const RegistrationRequest& request, const Parameters& registered) {
    const Parameters& r = request.Data;
    if (request.ReasonCode != kReasonPartyChanged && request.ReasonCode != kReasonSettingsChanged)
        return request.ReasonCode;
    // The INN is compared as a number over its full width: 10 and 12 digits both fit.
    const bool partyChanged = r.CompanyName != registered.CompanyName ||
                              LeadingInteger64(r.INN) != LeadingInteger64(registered.INN) ||
                              r.SaleAddress != registered.SaleAddress || r.SenderEmail != registered.SenderEmail;
    const bool settingsChanged =
        r.TaxationSystems != registered.TaxationSystems || r.SaleLocation != registered.SaleLocation;
    if (request.ReasonCode == kReasonPartyChanged)
        return !partyChanged && settingsChanged ? kReasonSettingsChanged : kReasonPartyChanged;
    return partyChanged && !settingsChanged ? kReasonPartyChanged : kReasonSettingsChanged;
}

// One byte per code, 1 when the code's digit occurs anywhere in the text; separators are irrelevant.
void AppendDigitFlags(Bytes& out, std::u16string_view text, char16_t lastDigit) {
    for (char16_t digit = u'0'; digit <= lastDigit; ++digit)
        out.push_back(text.find(digit) != std::u16string_view::npos ? 1 : 0);
}

constexpr size_t kInnWidth = 12, kKktNumberWidth = 16, kAutomaticNumberWidth = 20, kCashierNameUnits = 64;

Bytes RegistrationPayload(const RegistrationRequest& request, uint8_t operation, uint8_t reasonCode) {
    const Parameters& r = request.Data;
    Bytes out{0x00, 0x00, 0x02, operation, reasonCode};
    AppendLengthPrefixedText(out, r.SaleAddress);
    AppendLengthPrefixedText(out, r.SaleLocation);
    AppendLengthPrefixedText(out, r.CompanyName);
    AppendFixedDeviceText(out, r.INN, kInnWidth);
    AppendFixedDeviceText(out, r.KKTNumber, kKktNumberWidth);
    AppendLengthPrefixedText(out, std::u16string_view(request.CashierName).substr(0, kCashierNameUnits));
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

std::optional<std::u16string> GetDataKKT(CashRegister& device) {
    device.RegistrationData = Parameters{};
    device.RegistrationData.FFDVersionFN = u"1.1";
    device.RegistrationData.FFDVersionKKT = u"1.05";
    if (!device.QueryDeviceMode()) return {};
    const std::optional<uint32_t> documentNumber = ReadDeviceRecords(device);
    if (!documentNumber) return {};

    Parameters& data = device.RegistrationData;
    for (const TagField& field : kTagsBeforeAgentTypes) ReadTag(device, field);
    const std::optional<Bytes> agentTypes = ReadRegistrationTag(device.Link, device.DeviceModeByte, kTagAgentTypes);
    if (agentTypes && !agentTypes->empty()) data.AgentTypes = BitListText((*agentTypes)[0]);
    // The automat number exists only where the register is built into an automat.
    if (data.IsAutomaticPrinter) ReadTag(device, kAutomaticNumber);
    for (const TagField& field : kTagsAfterAgentTypes) ReadTag(device, field);
    return RegistrationDocument(data, device.FnFiscalMode, *documentNumber);
}

bool OperationFN(CashRegister& device, std::optional<uint8_t> type, std::u16string_view parameters) {
    // A document that cannot be read stops every operation, closing the FN included.
    pugi::xml_document document;
    if (!ParseDocument(document, parameters)) return false;
    const RegistrationRequest request = ReadRequest(document.document_element());
    Bytes payload;
    switch (type.value_or(0)) {
        case 3:
            device.FiscalDocumentAhead();
            return device.Link.Exchange(cmd::CloseFn, {0x00, 0x00}).Executed();
        case 1: payload = RegistrationPayload(request, 0x00, 1); break;
        case 2:
            // 259 would be sent as reason 3.
            if (!request.ReasonCodeFits)
                return device.SetError(u"Неверный код причины изменения параметров регистрации: " +
                                       AttributeText(document.document_element(), "RegistrationReasonCode"));
            payload = RegistrationPayload(request, 0x02, CorrectedReasonCode(request, device.RegistrationData));
            break;
        default: return false;
    }
    device.FiscalDocumentAhead();
    return device.Link.Exchange(cmd::RegisterKkt, payload).Executed();
}

}  // namespace vesklink
