// Registration data (GetDataKKT) and the fiscal storage operations (OperationFN) against the
// simulated register: the whole life of an FN, and scripted replies for exact requests and
// unusual devices.
#include <map>
#include <regex>

#include "support/device_fixture.h"
#include "support/wire.h"

using namespace vktest;
using namespace vktest::wire;

namespace {

using Codes = std::vector<uint8_t>;
using Fields = std::map<std::string, std::string>;

std::string Attribute(const std::string& document, const std::string& name) {
    std::smatch match;
    return std::regex_search(document, match, std::regex(" " + name + "=\"([^\"]*)\"")) ? match[1].str()
                                                                                        : "<missing>";
}

std::string Zeros(size_t count) {
    std::string hex;
    for (size_t i = 0; i < count; ++i) hex += "00 ";
    return hex;
}

std::string Xml(const Fields& fields, const char* root = "Parameters") {
    std::string xml = std::string("<") + root;
    for (const auto& [name, value] : fields) xml += " " + name + "=\"" + value + "\"";
    return xml + " />";
}

// The registration data of a new simulated register, as the host would send them back.
const Fields kRegistered = {{"CompanyName", "ООО &quot;ВЕСК-ТЕСТ&quot;"},
                            {"INN", "7701234567"},
                            {"SaleAddress", "г. Москва, ул. Тестовая, д. 1"},
                            {"SaleLocation", "Торговый зал"},
                            {"TaxationSystems", "0,1"},
                            {"SenderEmail", "kassa@example.ru"},
                            {"KKTNumber", "0000000001012345"}};

class Registration : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }

    std::string GetData(bool* ok = nullptr) {
        Params p(&memory_, 2);
        p.Str(0, "");
        const bool result = CallBool("GetDataKKT", p);
        if (ok) *ok = result;
        EXPECT_EQ(p[1].vt, result ? VK_PWSTR : VK_EMPTY);
        return p.Text(1);
    }

    bool Operation(Params& p, const std::string& xml) {
        p.Str(0, "").Str(2, xml);
        return CallBool("OperationFN", p);
    }
    bool Operation(int32_t type, const std::string& xml) {
        Params p(&memory_, 3);
        p.Int(1, type);
        return Operation(p, xml);
    }

    // Registration attributes requested, in order.
    std::vector<unsigned> TagsRead() {
        std::vector<unsigned> tags;
        for (const Request& r : SimRegister::Journal())
            if (r.command == ReadTag && r.payload.size() == 3) tags.push_back(static_cast<unsigned>(Number(r.payload, read_tag::Tag)));
        return tags;
    }
};

TEST_F(Registration, RegisterReadChangeReadAndCloseTheFn) {
    SimRegister::Reset(true);
    bool ok = false;
    std::string data = GetData(&ok);
    ASSERT_TRUE(ok);  // an FN not yet registered is no error
    EXPECT_EQ(PayloadOf(RegistrationRecord), (Codes{0x00}));
    for (const char* empty : {"KKTNumber", "DateTime", "CompanyName", "INN", "TaxationSystems"})
        EXPECT_EQ(Attribute(data, empty), "") << empty;
    EXPECT_EQ(Attribute(data, "Fiscal"), "false");
    EXPECT_EQ(Attribute(data, "DocumentNumber"), "0");

    Fields registration = {{"CashierName", "Иванов И.И."},     {"KKTNumber", "0000000002054321"},
                           {"CompanyName", "ООО Ромашка"},     {"INN", "7707083893"},
                           {"SaleAddress", "г. Тверь, ул. Новая, 5"}, {"SaleLocation", "Магазин"},
                           {"TaxationSystems", "0,5"},         {"AgentTypes", "1,6"},
                           {"IsAutomaticPrinter", "true"},     {"IsAutomatic", "1"},
                           {"AutomaticNumber", "A-17"},        {"IsOnlineOnly", "true"},
                           {"IsExcisable", "yes"},             {"OFDCompany", "ОФД Первый"},
                           {"OFDCompanyINN", "7704211201"},    {"FNSURL", "www.nalog.gov.ru"},
                           {"SenderEmail", "shop@example.ru"}};
    ASSERT_TRUE(Operation(1, Xml(registration)));
    data = GetData(&ok);
    ASSERT_TRUE(ok);
    for (const char* name : {"KKTNumber", "CompanyName", "INN", "SaleAddress", "SaleLocation", "TaxationSystems",
                             "AgentTypes", "AutomaticNumber", "OFDCompany", "OFDCompanyINN", "FNSURL", "SenderEmail"})
        EXPECT_EQ(Attribute(data, name), registration[name]) << name;
    for (const char* name : {"Fiscal", "IsAutomaticPrinter", "IsAutomatic", "IsOnlineOnly", "IsExcisable"})
        EXPECT_EQ(Attribute(data, name), "true") << name;
    for (const char* name : {"IsOffline", "IsEncrypted", "IsService", "BSOSing", "IsGambling", "IsLottery"})
        EXPECT_EQ(Attribute(data, name), "false") << name;
    EXPECT_TRUE(std::regex_match(Attribute(data, "DateTime"), std::regex("20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:00")));
    const std::string registrationNumber = Attribute(data, "DocumentNumber");
    EXPECT_NE(registrationNumber, "0");

    // Only the company name changed, so code 4 (settings changed) becomes 3.
    registration["CompanyName"] = "ООО Ромашка и К";
    registration["RegistrationReasonCode"] = "4";
    SimRegister::ClearJournal();
    ASSERT_TRUE(Operation(2, Xml(registration)));
    // Head 5, address 2+22, place 2+7, company 2+15, INN 12, KKT number 16, cashier 2+11, flags 2,
    // FNS site 2+16, OFD 2+10, OFD INN 12, e-mail 2+15, flag 1, automat number 20, 7 flags, 7 + 6 digits.
    ASSERT_EQ(PayloadOf(RegisterKkt).size(), 198u);
    EXPECT_EQ(Number(PayloadOf(RegisterKkt), register_kkt::Operation), 2u);
    EXPECT_EQ(Number(PayloadOf(RegisterKkt), register_kkt::Reason), 3u);
    data = GetData();
    EXPECT_EQ(Attribute(data, "CompanyName"), "ООО Ромашка и К");
    EXPECT_NE(Attribute(data, "DocumentNumber"), registrationNumber);

    SimRegister::ClearJournal();
    ASSERT_TRUE(Operation(3, "<Parameters />"));
    EXPECT_EQ(Sent(), (Codes{CloseFn}));
    EXPECT_EQ(Attribute(GetData(), "Fiscal"), "true");  // the closed FN stays reported as fiscal
}

TEST_F(Registration, DocumentLayoutAndRequestOrder) {
    SimRegister::Execute("set mode 5");
    const std::string data = GetData();
    const std::regex layout(
        "<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?>\n<Parameters KKTNumber=\"0000000001012345\" "
        "KKTSerialNumber=\"0001234567890\" FFDVersionFN=\"1.05\" FFDVersionKKT=\"1.05\" "
        "FNSerialNumber=\"9999078900012345\" DateTime=\"20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:00\" "
        "CompanyName=\"ООО &quot;ВЕСК-ТЕСТ&quot;\" INN=\"7701234567\" SaleAddress=\"г. Москва, ул. Тестовая, д. 1\" "
        "SaleLocation=\"Торговый зал\" TaxationSystems=\"0,1\" AgentTypes=\"\" AutomaticNumber=\"\" "
        "SenderEmail=\"kassa@example.ru\" FNSURL=\"www.nalog.gov.ru\" OFDCompany=\"ООО &quot;ОФД-ТЕСТ&quot;\" "
        "OFDCompanyINN=\"7709876543\" Fiscal=\"true\" IsOffline=\"false\" IsEncrypted=\"false\" IsService=\"false\" "
        "BSOSing=\"false\" IsOnlineOnly=\"false\" IsAutomaticPrinter=\"false\" IsAutomatic=\"false\" "
        "IsExcisable=\"false\" IsGambling=\"false\" IsLottery=\"false\" DocumentNumber=\"1\" />\n");
    EXPECT_TRUE(std::regex_match(data, layout)) << data;

    Codes expected{DeviceMode, DeviceInfo, FnState, FnSerial, RegistrationRecord};
    expected.resize(expected.size() + 19, ReadTag);  // no automat number without an automatic printer
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(PayloadOf(RegistrationRecord), (Codes{0x05}));
    EXPECT_EQ(PayloadOf(ReadTag)[0], 0x05);
    EXPECT_EQ(TagsRead(), (std::vector<unsigned>{1221, 1110, 1108, 1001, 1048, 1018, 1009, 1187, 1002, 1056, 1109,
                                                 1207, 1193, 1126, 1057, 1046, 1017, 1060, 1117}));
}

TEST_F(Registration, RegistrationRecordIsUsedOnlyWhenWhole) {
    // Date with year byte 5, KKT number padded with zeros, taxation 0x21, document 42.
    const std::string record = "05 0C 1F 17 3B " + Zeros(12) + "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 " +
                               Zeros(4) + "21 00 01 2A 00 00 00";
    SimRegister::Execute("fault 0xE8 reply " + record + " once");
    std::string data = GetData();
    EXPECT_EQ(Attribute(data, "DateTime"), "2005-12-31T23:59:00");
    EXPECT_EQ(Attribute(data, "KKTNumber"), "1234567890123456");
    EXPECT_EQ(Attribute(data, "TaxationSystems"), "0,5");
    EXPECT_EQ(Attribute(data, "DocumentNumber"), "42");

    // One byte short: the four fields stay empty, everything else is still read.
    SimRegister::Execute("fault 0xE8 reply " + record.substr(0, record.size() - 3) + " once");
    bool ok = false;
    data = GetData(&ok);
    EXPECT_TRUE(ok);
    for (const char* name : {"DateTime", "KKTNumber", "TaxationSystems"}) EXPECT_EQ(Attribute(data, name), "") << name;
    EXPECT_EQ(Attribute(data, "DocumentNumber"), "0");
    EXPECT_EQ(Attribute(data, "INN"), "7701234567");
}

TEST_F(Registration, ModeDeviceInfoAndFnSerialFailTheMethod) {
    const std::pair<std::string, Codes> cases[] = {
        {"fault 0xE2 status 0x0001 once", {DeviceMode}},
        {"fault 0xFF reply " + Zeros(68) + "once", {DeviceMode, DeviceInfo}},  // 77 bytes, offset 77 missing
        {"fault 0xE1 reply " + Zeros(14) + "once", {DeviceMode, DeviceInfo, FnState, FnSerial}},  // 23 bytes: no byte 23
    };
    for (const auto& [fault, sent] : cases) {
        SimRegister::ClearJournal();
        SimRegister::Execute(fault);
        bool ok = true;
        EXPECT_EQ(GetData(&ok), "") << fault;
        EXPECT_FALSE(ok) << fault;
        EXPECT_EQ(Sent(), sent) << fault;
    }
    EXPECT_NE(LogText().find("[Error] GetDataKKT error"), std::string::npos);

    SimRegister::Execute("fault 0xE1 reply 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 once");  // 24 bytes
    EXPECT_NE(GetData().find("FNSerialNumber=\"111111111111111"), std::string::npos);
}

TEST_F(Registration, FfdVersionsAndAttributeEncodings) {
    for (const auto& [code, version] : {std::pair{"2", "1.05"}, {"3", "1.1"}, {"0", "1.1"}}) {
        SimRegister::Execute(std::string("set ffd ") + code);
        const std::string data = GetData();
        EXPECT_EQ(Attribute(data, "FFDVersionFN"), version) << code;
        EXPECT_EQ(Attribute(data, "FFDVersionKKT"), "1.05") << code;
    }

    // An automat number is read only for an automatic printer, whatever IsAutomatic says.
    SimRegister::Execute("set attr 1001 flag 1\nset attr 1036 text A-9\nset attr 1057 byte 65\nset taxation 33");
    SimRegister::ClearJournal();
    std::string data = GetData();
    EXPECT_EQ(Attribute(data, "IsAutomatic"), "true");
    EXPECT_EQ(Attribute(data, "AutomaticNumber"), "");
    EXPECT_EQ(Attribute(data, "AgentTypes"), "0,6");
    EXPECT_EQ(Attribute(data, "TaxationSystems"), "0,5");
    EXPECT_EQ(TagsRead().size(), 19u);
    SimRegister::Execute("set attr 1221 flag 1\nset attr 1057 byte 0");
    SimRegister::ClearJournal();
    data = GetData();
    EXPECT_EQ(Attribute(data, "AutomaticNumber"), "A-9");
    EXPECT_EQ(Attribute(data, "AgentTypes"), "");
    EXPECT_EQ(TagsRead().at(15), 1036u);
}

TEST_F(Registration, EveryCallStartsFromNothingButFiscalModeSticks) {
    std::string data = GetData();
    EXPECT_EQ(Attribute(data, "INN"), "7701234567");
    EXPECT_EQ(Attribute(data, "Fiscal"), "true");

    // Unreadable or empty attributes report empty and false, not the previous call's values.
    SimRegister::Execute("set attr 1018 none\nset attr 1057 none\nset attr 1221 hex\nset attr 1109 flag 1\n"
                         "set fn-state 1");
    data = GetData();
    EXPECT_EQ(Attribute(data, "INN"), "");
    EXPECT_EQ(Attribute(data, "IsAutomaticPrinter"), "false");
    EXPECT_EQ(Attribute(data, "IsService"), "true");
    EXPECT_EQ(Attribute(data, "Fiscal"), "true");
}

TEST_F(Registration, RegistrationRequestFieldByField) {
    SimRegister::Execute("fault 0x1D reply");
    Params p(&memory_, 3);
    p.Dbl(1, 1.9);  // the integer part counts
    ASSERT_TRUE(Operation(
        p, Xml({{"CashierName", "Ёлка"}, {"RegistrationReasonCode", "2"}, {"KKTNumber", "12345678901234567890"},
                {"CompanyName", "AB"}, {"INN", "1234567890"}, {"SaleAddress", "A"}, {"TaxationSystems", "0,5"},
                {"IsOffline", "true"}, {"IsEncrypted", "0"}, {"IsService", "yes"}, {"IsExcisable", "T"},
                {"IsLottery", "1"}, {"BSOSing", "1"}, {"IsAutomaticPrinter", "1"}, {"IsAutomatic", "1"},
                {"AgentTypes", "10"}, {"AutomaticNumber", ""}, {"OFDCompany", "O"},
                {"OFDCompanyINN", "12345678901234"}, {"FNSURL", "u"}},
               "Registration")));
    EXPECT_EQ(Sent(), (Codes{RegisterKkt}));
    EXPECT_EQ(Hex(PayloadOf(RegisterKkt)),
              "00 00 02 00 01 01 00 41 00 00 02 00 41 42 "
              "31 32 33 34 35 36 37 38 39 30 00 00 "                      // INN, 10 of 12
              "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 "          // KKT number cut to 16
              "04 00 F0 AB AA A0 00 01 01 00 75 01 00 4F "                // cashier, flags, FNS site, OFD
              "31 32 33 34 35 36 37 38 39 30 31 32 00 00 01 " +           // OFD INN cut to 12, e-mail
                  Zeros(20) +                                             // no automat number
                  "01 01 00 01 01 00 01 01 01 00 00 00 00 00 01 00 00 00 00 01");

    // The cashier name is cut to 64 characters, never padded.
    SimRegister::ClearJournal();
    ASSERT_TRUE(Operation(1, Xml({{"CashierName", std::string(80, 'c')}})));
    // With every text before it empty, the cashier follows the head, three empty texts, the INN
    // and the KKT number.
    const Codes payload = PayloadOf(RegisterKkt);
    ASSERT_EQ(payload.size(), 166u);
    const size_t cashier = 5 + 3 * 2 + 12 + 16;
    EXPECT_EQ(Number(payload, {cashier, 2}), 64u);
    EXPECT_EQ(Slice(payload, {cashier + 2, 65}), Then({Codes(64, 'c'), {0x00}}));
}

TEST_F(Registration, ReasonCodeOfAChangeFollowsWhatChanged) {
    // The attribute read back with a trailing zero compares equal to the text without it.
    SimRegister::Execute("fault 0x1D reply\nset attr 1048 hex 41 42 00 00");
    GetData();
    Fields base = kRegistered;
    base["CompanyName"] = "AB";
    const struct {
        int code;
        Fields change;
        int sent;
    } cases[] = {
        {3, {}, 3},
        {3, {{"TaxationSystems", "0"}}, 4},
        {3, {{"SaleLocation", "Склад"}}, 4},
        {3, {{"TaxationSystems", "0"}, {"CompanyName", "X"}}, 3},
        {4, {}, 4},
        {4, {{"CompanyName", "X"}}, 3},
        {4, {{"SenderEmail", "a@b.ru"}}, 3},
        {4, {{"SaleAddress", "Тверь"}}, 3},
        {4, {{"INN", "7701234568"}}, 3},
        {4, {{"INN", " 007701234567"}}, 4},  // the same number
        {4, {{"CompanyName", "X"}, {"TaxationSystems", "0"}}, 4},
        {2, {{"CompanyName", "X"}}, 2},
    };
    for (const auto& c : cases) {
        Fields fields = base;
        for (const auto& [name, value] : c.change) fields[name] = value;
        fields["RegistrationReasonCode"] = std::to_string(c.code);
        SimRegister::ClearJournal();
        ASSERT_TRUE(Operation(2, Xml(fields))) << c.code;
        EXPECT_EQ(Number(PayloadOf(RegisterKkt), register_kkt::Reason), static_cast<uint64_t>(c.sent))
            << c.code << " " << Xml(c.change);
    }

    // Twelve-digit INNs are told apart.
    SimRegister::Execute("set attr 1018 text 770123456789");
    GetData();
    base["INN"] = "770123456788";
    base["RegistrationReasonCode"] = "4";
    SimRegister::ClearJournal();
    ASSERT_TRUE(Operation(2, Xml(base)));
    EXPECT_EQ(Number(PayloadOf(RegisterKkt), register_kkt::Reason), 3u);

    // A code that does not fit its byte is refused before anything is sent: 259 is not reason 3.
    for (const std::string code : {"259", "-1"}) {
        base["RegistrationReasonCode"] = code;
        SimRegister::ClearJournal();
        EXPECT_FALSE(Operation(2, Xml(base)));
        EXPECT_TRUE(Sent().empty());
        EXPECT_EQ(LastError(), "Неверный код причины изменения параметров регистрации: " + code);
    }
}

TEST_F(Registration, OperationTypesAndUnreadableDocuments) {
    SimRegister::Execute("fault 0x1E reply");
    // Closing sends two zero bytes and nothing else, whatever the document holds.
    EXPECT_TRUE(Operation(3, "<Parameters />"));
    EXPECT_EQ(Sent(), (Codes{CloseFn}));
    EXPECT_EQ(Hex(PayloadOf(CloseFn)), "00 00");

    for (int type : {0, 4, 256, -1}) EXPECT_FALSE(Operation(type, "<Parameters />")) << type;
    EXPECT_FALSE(Operation(3, "<Parameters"));
    EXPECT_FALSE(Operation(3, "<Parameters INN=\"&#x110037;\" />"));  // a reference beyond Unicode
    EXPECT_FALSE(Operation(1, ""));
    Params flag(&memory_, 3);
    flag.Bool(1, true);
    EXPECT_FALSE(Operation(flag, "<Parameters />"));
    EXPECT_EQ(Sent(), (Codes{CloseFn}));

    SimRegister::ClearJournal();
    Params number(&memory_, 3), text(&memory_, 3), text2(&memory_, 3);
    number.Dbl(1, 3.99);
    text.Str(1, " 3 closes");
    text2.Str(1, "259");
    EXPECT_TRUE(Operation(number, "<a/>"));
    EXPECT_TRUE(Operation(text, "<a/>"));
    // A type beyond one byte is no operation: 259 does not close the FN as 3 would.
    EXPECT_FALSE(Operation(text2, "<a/>"));
    EXPECT_FALSE(Operation(259, "<a/>"));
    EXPECT_EQ(Sent(), (Codes{CloseFn, CloseFn}));

    // A register that refuses fails the method.
    SimRegister::Execute("fault 0x1D status 0x0001 once");
    Params change(&memory_, 3);
    change.Str(1, "2");
    EXPECT_FALSE(Operation(change, Xml(kRegistered)));
    EXPECT_EQ(Number(PayloadOf(RegisterKkt), register_kkt::Operation), 2u);
    EXPECT_NE(LogText().find("[Error] OperationFN error"), std::string::npos);
}

}  // namespace
