// Registration and the FN: registering the FN and changing its registration (0x1D), closing the
// FN's archive (0x1E), and the registration record and attributes the register answers with.
#include "sim_device.h"
#include "sim_payload.h"
#include "sim_tape.h"

namespace vesklink::sim {
namespace {

constexpr uint8_t kRegister = 0;
constexpr uint8_t kChangeRegistration = 2;

// The registration request in the order the driver lays it out.
struct RegistrationRequest {
    uint8_t operation = 0, reason = 0;
    std::string address, location, company, inn, kktNumber, cashier;
    uint8_t encrypted = 0, offline = 0, automatic = 0;
    std::string fnsUrl, ofd, ofdInn, senderEmail, automatNumber;
    uint8_t flags[7] = {};  // service, BSO, online only, automatic printer, excise, gambling, lottery
    uint8_t agentTypes = 0, taxation = 0;
};

bool ReadRegistration(const Bytes& p, RegistrationRequest& q) {
    In in(p);
    in.Le(2);
    in.U8();
    q.operation = in.U8();
    q.reason = in.U8();
    q.address = in.Counted();
    q.location = in.Counted();
    q.company = in.Counted();
    q.inn = TrimRight(in.Fixed(12));
    q.kktNumber = TrimRight(in.Fixed(16));
    q.cashier = in.Counted();
    q.encrypted = in.U8();
    q.offline = in.U8();
    q.fnsUrl = in.Counted();
    q.ofd = in.Counted();
    q.ofdInn = TrimRight(in.Fixed(12));
    q.senderEmail = in.Counted();
    q.automatic = in.U8();
    q.automatNumber = in.Fixed(20);
    for (auto& f : q.flags) f = in.U8();
    for (int i = 0; i < 7; ++i) q.agentTypes |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    for (int i = 0; i < 6; ++i) q.taxation |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    return in.Done();
}

// The registration the FN keeps, with the attributes 0xE9 answers with.
Registration RecordOf(const RegistrationRequest& q, const DeviceTime& time, uint8_t ffdCode) {
    Registration r;
    r.time = time;
    r.kktNumber = q.kktNumber;
    r.inn = q.inn;
    r.taxation = q.taxation;
    r.agentTypes = q.agentTypes;
    r.reason = q.operation == kRegister ? 1 : q.reason;
    r.operatingModes = static_cast<uint8_t>((q.encrypted ? 0x01 : 0) | (q.offline ? 0x02 : 0) |
                                            (q.automatic ? 0x04 : 0) | (q.flags[0] ? 0x08 : 0) |
                                            (q.flags[1] ? 0x10 : 0) | (q.flags[2] ? 0x20 : 0));
    for (const auto& [tag, text] : {std::pair<uint16_t, const std::string&>{1009, q.address}, {1187, q.location},
                                    {1048, q.company}, {1018, q.inn}, {1037, q.kktNumber}, {1046, q.ofd},
                                    {1017, q.ofdInn}, {1060, q.fnsUrl}, {1117, q.senderEmail},
                                    {1036, q.automatNumber}}) {
        r.attributes[tag] = text;
    }
    for (const auto& [tag, on] : {std::pair<uint16_t, uint8_t>{1056, q.encrypted}, {1002, q.offline},
                                  {1001, q.automatic}, {1109, q.flags[0]}, {1110, q.flags[1]}, {1108, q.flags[2]},
                                  {1221, q.flags[3]}, {1207, q.flags[4]}, {1193, q.flags[5]}, {1126, q.flags[6]}}) {
        r.attributes[tag] = std::string(1, on ? '\x01' : '\x00');
    }
    r.attributes[1057] = std::string(1, static_cast<char>(q.agentTypes));
    r.attributes[1062] = std::string(1, static_cast<char>(q.taxation));
    r.attributes[1209] = std::string(1, static_cast<char>(ffdCode));
    return r;
}

Lines RegistrationReport(const RegistrationRequest& q) {
    Lines lines;
    if (q.operation == kRegister) {
        lines.push_back(Center(C("ОТЧЕТ О РЕГИСТРАЦИИ")));
    } else {
        lines.push_back(Center(C("ОТЧЕТ ОБ ИЗМЕНЕНИИ ПАРАМЕТРОВ")));
        lines.push_back(Center(C("РЕГИСТРАЦИИ")));
        Both(lines, C("ПРИЧИНА"), std::to_string(q.reason));
    }
    std::string systems;
    for (int i = 0; i < 6; ++i) {
        if (q.taxation & (1 << i)) systems += (systems.empty() ? "" : ",") + TaxationName(static_cast<uint8_t>(1 << i));
    }
    Wrap(lines, C("СНО: ") + systems);
    Wrap(lines, C("ОФД: ") + q.ofd);
    Both(lines, C("ИНН ОФД:"), q.ofdInn);
    Wrap(lines, C("САЙТ ФНС: ") + q.fnsUrl);
    if (!q.cashier.empty()) Both(lines, C("КАССИР"), q.cashier);
    return lines;
}

}  // namespace

Reply Device::FiscalRegistration(const Bytes& p) {
    RegistrationRequest q;
    if (!ReadRegistration(p, q)) return Fail(kBadFormat);
    if (q.operation != kRegister && q.operation != kChangeRegistration) return Fail(kBadParameter);
    if (state_.fnState == 7) return Fail(kFnClosed);
    if (q.operation == kRegister && state_.registered) return Fail(kAlreadyRegistered);
    if (q.operation == kChangeRegistration && !state_.registered) return Fail(kNotRegistered);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (state_.shiftOpen) return Fail(kShiftMustBeClosed);
    if (!ValidInn(q.inn)) return Fail(kBadInn);
    if (q.kktNumber.empty()) return Fail(kNoKktNumber);
    if (q.taxation == 0) return Fail(kNoTaxation);
    if (auto e = NeedPrinter()) return Fail(e);

    state_.registered = true;
    state_.fnState = 3;
    if (state_.modeByte == 0) state_.modeByte = 1;
    state_.registration = RecordOf(q, ToDeviceTime(Now()), state_.ffdCode);
    Document& doc = AddFiscalDocument(q.operation == kRegister ? kDocRegistration : kDocReregistration, q.taxation);
    state_.registration.documentNumber = doc.number;
    Lines lines = Header();
    for (auto& l : RegistrationReport(q)) lines.push_back(std::move(l));
    PrintFiscal(doc, std::move(lines));
    return Ok(Out().Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

Reply Device::CloseFn(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedFiscalMode()) return Fail(e);
    if (auto e = NeedNoDocument()) return Fail(e);
    if (state_.shiftOpen) return Fail(kShiftMustBeClosed);
    if (auto e = NeedPrinter()) return Fail(e);
    Document& doc = AddFiscalDocument(kDocFnClose, 0);
    state_.fnState = 7;
    Lines lines = Header();
    lines.push_back(Center(C("ОТЧЕТ О ЗАКРЫТИИ ФН")));
    PrintFiscal(doc, std::move(lines));
    return Ok(Out().Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

Reply Device::RegistrationRecord(const Bytes& p) {
    if (p.size() != 1) return Fail(kBadFormat);
    if (!state_.registered) return Fail(kNotRegistered);
    const auto& r = state_.registration;
    return Ok(Out()
                  .Time(r.time)
                  .Fixed(r.inn, 12)
                  .Fixed(r.kktNumber, 20)
                  .U8(r.taxation)
                  .U8(r.operatingModes)
                  .U8(r.reason)
                  .Le(r.documentNumber, 4)
                  .U8(r.agentTypes)
                  .Take(),
              false);
}

Reply Device::RegistrationAttribute(const Bytes& p) {
    In in(p);
    in.U8();
    const auto tag = static_cast<uint16_t>(in.Le(2));
    if (!in.Done()) return Fail(kBadFormat);
    if (!state_.registered) return Fail(kNotRegistered);
    const auto it = state_.registration.attributes.find(tag);
    if (it == state_.registration.attributes.end()) return Fail(kTagNotFound);
    return Ok(Out().Le(tag, 2).Le(it->second.size(), 2).Raw(it->second).Take(), false);
}

}  // namespace vesklink::sim
