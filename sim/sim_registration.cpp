// Registration and the FN: registering the FN and changing its registration (0x1D), closing the
// FN's archive (0x1E), and the registration record and attributes the register answers with.
#include "sim_device.h"

namespace vesklink::sim {
namespace {

constexpr uint8_t kRegister = 0;
constexpr uint8_t kChangeRegistration = 2;

// The registration request, read in the order the driver lays it out into the registration the
// FN keeps, with the attributes 0xE9 answers with.
struct RegistrationRequest {
    uint8_t operation = 0, reason = 0;
    std::string cashier;
    Registration r;
};

bool ReadRegistration(const Bytes& p, RegistrationRequest& q, uint8_t ffdCode) {
    In in(p);
    auto& a = q.r.attributes;
    auto flag = [&](uint16_t tag) {
        const uint8_t on = in.U8();
        a[tag] = std::string(1, on ? '\x01' : '\x00');
        return on ? 1u : 0u;
    };
    in.Le(3);
    q.operation = in.U8();
    q.reason = in.U8();
    a[1009] = in.Counted();  // address
    a[1187] = in.Counted();  // place of settlement
    a[1048] = in.Counted();  // company
    a[1018] = q.r.inn = TrimRight(in.Fixed(12));
    a[1037] = q.r.kktNumber = TrimRight(in.Fixed(16));
    q.cashier = in.Counted();
    unsigned modes = flag(1056);  // encryption
    modes |= flag(1002) << 1;  // offline
    a[1060] = in.Counted();  // the tax service's site
    a[1046] = in.Counted();  // OFD
    a[1017] = TrimRight(in.Fixed(12));  // OFD's INN
    a[1117] = in.Counted();  // sender's e-mail
    modes |= flag(1001) << 2;  // automatic
    a[1036] = in.Fixed(20);  // automat number
    modes |= flag(1109) << 3;  // service
    modes |= flag(1110) << 4;  // BSO
    modes |= flag(1108) << 5;  // online only
    // Automatic printer, excise, gambling, lottery.
    for (uint16_t tag : {1221, 1207, 1193, 1126}) flag(tag);
    for (int i = 0; i < 7; ++i) q.r.agentTypes |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    for (int i = 0; i < 6; ++i) q.r.taxation |= static_cast<uint8_t>(in.U8() ? (1u << i) : 0u);
    q.r.operatingModes = static_cast<uint8_t>(modes);
    q.r.reason = q.operation == kRegister ? 1 : q.reason;
    a[1057] = std::string(1, static_cast<char>(q.r.agentTypes));
    a[1062] = std::string(1, static_cast<char>(q.r.taxation));
    a[1209] = std::string(1, static_cast<char>(ffdCode));
    return in.Done();
}

// What the report prints under its titles.
void AddRegistrationReport(Lines& lines, const RegistrationRequest& q) {
    if (q.operation != kRegister) Both(lines, C("ПРИЧИНА"), std::to_string(q.reason));
    std::string systems;
    for (int i = 0; i < 6; ++i) {
        const auto bit = static_cast<uint8_t>(1 << i);
        if (q.r.taxation & bit) systems += (systems.empty() ? "" : ",") + TaxationName(bit);
    }
    const auto& a = q.r.attributes;
    Wrap(lines, C("СНО: ") + systems);
    Wrap(lines, C("ОФД: ") + a.at(1046));
    Both(lines, C("ИНН ОФД:"), a.at(1017));
    Wrap(lines, C("САЙТ ФНС: ") + a.at(1060));
    if (!q.cashier.empty()) Both(lines, C("КАССИР"), q.cashier);
}

}  // namespace

Reply Device::FiscalRegistration(const Bytes& p) {
    RegistrationRequest q;
    if (!ReadRegistration(p, q, state_.ffdCode)) return Fail(kBadFormat);
    const bool first = q.operation == kRegister;
    if (!first && q.operation != kChangeRegistration) return Fail(kBadParameter);
    // Registering needs an FN not yet registered; changing the registration, one in fiscal mode.
    const uint16_t registered = state_.registered ? kAlreadyRegistered : kOk;
    const uint16_t fn = first && state_.fnState != 7 ? registered : NeedFiscalMode();
    const uint16_t shift = state_.shiftOpen ? kShiftMustBeClosed : kOk;
    const uint16_t inn = ValidInn(q.r.inn) ? kOk : kBadInn;
    const uint16_t kkt = q.r.kktNumber.empty() ? kNoKktNumber : kOk;
    const uint16_t taxation = q.r.taxation == 0 ? kNoTaxation : kOk;
    if (auto e = First({fn, NeedNoDocument(), shift, inn, kkt, taxation, NeedPrinter()})) return Fail(e);

    state_.registered = true;
    state_.fnState = 3;
    if (state_.modeByte == 0) state_.modeByte = 1;
    state_.registration = q.r;
    state_.registration.time = ToDeviceTime(Now());
    Document& doc = AddFiscalDocument(first ? kDocRegistration : kDocReregistration, q.r.taxation);
    state_.registration.documentNumber = doc.number;
    Lines lines = first ? Titled({"ОТЧЕТ О РЕГИСТРАЦИИ"})
                        : Titled({"ОТЧЕТ ОБ ИЗМЕНЕНИИ ПАРАМЕТРОВ", "РЕГИСТРАЦИИ"});
    AddRegistrationReport(lines, q);
    return FiscalReply(doc, std::move(lines));
}

Reply Device::CloseFn(const Bytes&) {
    const uint16_t shift = state_.shiftOpen ? kShiftMustBeClosed : kOk;
    if (auto e = First({NeedFiscalMode(), NeedNoDocument(), shift, NeedPrinter()})) return Fail(e);
    Document& doc = AddFiscalDocument(kDocFnClose, 0);
    state_.fnState = 7;
    return FiscalReply(doc, Titled({"ОТЧЕТ О ЗАКРЫТИИ ФН"}));
}

Reply Device::RegistrationRecord(const Bytes&) {
    if (!state_.registered) return Fail(kNotRegistered);
    const auto& r = state_.registration;
    return Ok(Out().Raw(r.time).Fixed(r.inn, 12).Fixed(r.kktNumber, 20).U8(r.taxation)
                  .U8(r.operatingModes).U8(r.reason).Le(r.documentNumber, 4).U8(r.agentTypes), false);
}

Reply Device::RegistrationAttribute(const Bytes& p) {
    const auto tag = static_cast<uint16_t>(p[1] | p[2] << 8);
    if (!state_.registered) return Fail(kNotRegistered);
    const auto it = state_.registration.attributes.find(tag);
    if (it == state_.registration.attributes.end()) return Fail(kTagNotFound);
    return Ok(Out().Le(tag, 2).Le(it->second.size(), 2).Raw(it->second), false);
}

}  // namespace vesklink::sim
