// GetDataKKT: how the register and its FN are registered. The values are read from the device
// into RegistrationData, which OperationFN later compares new registration parameters with, and
// reported in one document.
#include "component/napi.h"
#include "protocol/device_queries.h"
#include "protocol/encoding.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr uint8_t kDeviceInfo = 0xFF;
constexpr uint8_t kFnSerial = 0xE1;
constexpr uint8_t kRegistrationRecord = 0xE8;

// Device information (0xFF): the KKT serial number and the FFD version code of the FN.
constexpr size_t kDeviceInfoSize = 78;
constexpr size_t kKktSerialAt = 40, kKktSerialWidth = 20;
constexpr size_t kFfdCodeAt = 77;
constexpr uint8_t kFfd105 = 2;

// FN serial number (0xE1): offsets 8 to 23, so the reply must reach offset 23.
constexpr size_t kFnSerialAt = 8, kFnSerialWidth = 16;
constexpr size_t kFnSerialSize = kFnSerialAt + kFnSerialWidth;

// Registration record (0xE8).
constexpr size_t kRecordSize = 53;
constexpr size_t kRecordDateAt = 8;
constexpr size_t kRecordKktNumberAt = 25, kRecordKktNumberWidth = 20;
constexpr size_t kRecordTaxationAt = 45;
constexpr size_t kRecordDocumentFirst = 48, kRecordDocumentLast = 51;

// Registration attributes.
constexpr uint16_t kTagAutomaticPrinter = 1221, kTagBsoSing = 1110, kTagOnlineOnly = 1108, kTagAutomatic = 1001,
                   kTagCompanyName = 1048, kTagInn = 1018, kTagSaleAddress = 1009, kTagSaleLocation = 1187,
                   kTagOffline = 1002, kTagEncrypted = 1056, kTagService = 1109, kTagExcisable = 1207,
                   kTagGambling = 1193, kTagLottery = 1126, kTagAgentTypes = 1057, kTagAutomaticNumber = 1036,
                   kTagOfdCompany = 1046, kTagOfdCompanyInn = 1017, kTagFnsUrl = 1060, kTagSenderEmail = 1117;

}  // namespace

bool nAPI::GetDataKKT(tVariant* params) {
    RegistrationParameters& data = RegistrationData;
    data = RegistrationParameters{};
    data.FFDVersionFN = u"1.1";
    data.FFDVersionKKT = u"1.05";
    std::u16string dateTime;
    uint32_t documentNumber = 0;

    if (!QueryDeviceMode()) return false;

    if (!Link.ExecuteCommand(kDeviceInfo) || Link.ReplyBuffer.size() < kDeviceInfoSize) return false;
    data.KKTSerialNumber = DecodeFixedDeviceText(Link.ReplyBuffer, kKktSerialAt, kKktSerialWidth);
    data.FFDVersionFN = Link.ReplyBuffer[kFfdCodeAt] == kFfd105 ? u"1.05" : u"1.1";

    // Only the fiscal-mode flag is reported, and it keeps its value when the query fails.
    QueryFnState();
    data.FFDVersionKKT = u"1.05";

    if (!Link.ExecuteCommand(kFnSerial) || Link.ReplyBuffer.size() < kFnSerialSize) return false;
    data.FNSerialNumber = DecodeFixedDeviceText(Link.ReplyBuffer, kFnSerialAt, kFnSerialWidth);

    // An FN not yet registered has no record: its fields are reported empty.
    Link.PayloadBuffer = {DeviceModeByte};
    if (Link.ExecuteCommand(kRegistrationRecord, Link.PayloadBuffer) && Link.ReplyBuffer.size() >= kRecordSize) {
        documentNumber = static_cast<uint32_t>(Link.ReplyInteger(kRecordDocumentFirst, kRecordDocumentLast));
        dateTime = FormatDeviceDateTime(Link.ReplyBuffer, kRecordDateAt);
        data.TaxationSystems = BitListText(Link.ReplyBuffer[kRecordTaxationAt]);
        data.KKTNumber =
            DecodeFixedDeviceText(Link.ReplyBuffer, kRecordKktNumberAt, kRecordKktNumberWidth);
    }

    // An attribute that cannot be read stays empty or false and the others are still read.
    const uint8_t mode = DeviceModeByte;
    auto flag = [&](uint16_t tag, bool& member) { ReadRegistrationFlag(Link, mode, tag, member); };
    auto text = [&](uint16_t tag, std::u16string& member) {
        if (ReadRegistrationText(Link, mode, tag, member)) member = UpToFirstZero(member);
    };
    flag(kTagAutomaticPrinter, data.IsAutomaticPrinter);
    flag(kTagBsoSing, data.BSOSing);
    flag(kTagOnlineOnly, data.IsOnlineOnly);
    flag(kTagAutomatic, data.IsAutomatic);
    text(kTagCompanyName, data.CompanyName);
    text(kTagInn, data.INN);
    text(kTagSaleAddress, data.SaleAddress);
    text(kTagSaleLocation, data.SaleLocation);
    flag(kTagOffline, data.IsOffline);
    flag(kTagEncrypted, data.IsEncrypted);
    flag(kTagService, data.IsService);
    flag(kTagExcisable, data.IsExcisable);
    flag(kTagGambling, data.IsGambling);
    flag(kTagLottery, data.IsLottery);
    Bytes agentTypes;
    if (ReadRegistrationTag(Link, mode, kTagAgentTypes, agentTypes) && !agentTypes.empty())
        data.AgentTypes = BitListText(agentTypes[0]);
    // The automat number exists only where the register is built into an automat.
    if (data.IsAutomaticPrinter) text(kTagAutomaticNumber, data.AutomaticNumber);
    text(kTagOfdCompany, data.OFDCompany);
    text(kTagOfdCompanyInn, data.OFDCompanyINN);
    text(kTagFnsUrl, data.FNSURL);
    text(kTagSenderEmail, data.SenderEmail);

    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    AppendText(declaration, "version", u"1.0");
    AppendText(declaration, "encoding", u"UTF-8");
    pugi::xml_node parameters = document.append_child(PUGIXML_TEXT("Parameters"));
    AppendText(parameters, "KKTNumber", data.KKTNumber);
    AppendText(parameters, "KKTSerialNumber", data.KKTSerialNumber);
    AppendText(parameters, "FFDVersionFN", data.FFDVersionFN);
    AppendText(parameters, "FFDVersionKKT", data.FFDVersionKKT);
    AppendText(parameters, "FNSerialNumber", data.FNSerialNumber);
    AppendText(parameters, "DateTime", dateTime);
    AppendText(parameters, "CompanyName", data.CompanyName);
    AppendText(parameters, "INN", data.INN);
    AppendText(parameters, "SaleAddress", data.SaleAddress);
    AppendText(parameters, "SaleLocation", data.SaleLocation);
    AppendText(parameters, "TaxationSystems", data.TaxationSystems);
    AppendText(parameters, "AgentTypes", data.AgentTypes);
    AppendText(parameters, "AutomaticNumber", data.AutomaticNumber);
    AppendText(parameters, "SenderEmail", data.SenderEmail);
    AppendText(parameters, "FNSURL", data.FNSURL);
    AppendText(parameters, "OFDCompany", data.OFDCompany);
    AppendText(parameters, "OFDCompanyINN", data.OFDCompanyINN);
    AppendFlag(parameters, "Fiscal", FnFiscalMode);
    AppendFlag(parameters, "IsOffline", data.IsOffline);
    AppendFlag(parameters, "IsEncrypted", data.IsEncrypted);
    AppendFlag(parameters, "IsService", data.IsService);
    AppendFlag(parameters, "BSOSing", data.BSOSing);
    AppendFlag(parameters, "IsOnlineOnly", data.IsOnlineOnly);
    AppendFlag(parameters, "IsAutomaticPrinter", data.IsAutomaticPrinter);
    AppendFlag(parameters, "IsAutomatic", data.IsAutomatic);
    AppendFlag(parameters, "IsExcisable", data.IsExcisable);
    AppendFlag(parameters, "IsGambling", data.IsGambling);
    AppendFlag(parameters, "IsLottery", data.IsLottery);
    AppendUnsigned(parameters, "DocumentNumber", documentNumber);
    // A document the host never receives is no success.
    return ReturnString(SerializeDocument(document), &params[1]);
}

}  // namespace vesklink
