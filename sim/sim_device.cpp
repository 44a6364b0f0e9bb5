#include "sim_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "sim_frame.h"

namespace vesklink::sim {
namespace {

constexpr int64_t kShiftLimitSeconds = 24 * 3600;

// The fiscal sign: a keyed digest of the document, as the FN would compute it.
uint32_t FiscalSign(const std::string& fnSerial, uint32_t number, const DeviceTime& t, int64_t total) {
    uint32_t h = 2166136261u;
    auto mix = [&](uint8_t b) {
        h ^= b;
        h *= 16777619u;
    };
    for (char c : fnSerial) mix(static_cast<uint8_t>(c));
    for (int i = 0; i < 4; ++i) mix(static_cast<uint8_t>(number >> (8 * i)));
    for (uint8_t b : t) mix(b);
    for (int i = 0; i < 8; ++i) mix(static_cast<uint8_t>(static_cast<uint64_t>(total) >> (8 * i)));
    return h ? h : 1;
}

}  // namespace

bool ValidInn(std::string_view inn) {
    return (inn.size() == 10 || inn.size() == 12) &&
           std::all_of(inn.begin(), inn.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ErrorTextUtf8(uint16_t code) {
#define VESKLINK_SIM_ERROR_TEXT(name, value, text) \
    if (code == value) return text;
    VESKLINK_SIM_ERRORS(VESKLINK_SIM_ERROR_TEXT)
#undef VESKLINK_SIM_ERROR_TEXT
    char buf[32];
    std::snprintf(buf, sizeof buf, "Ошибка 0x%04X", code);
    return buf;
}

std::span<const Device::Command> Device::Commands() {
#define VESKLINK_SIM_COMMAND(code, name, size, handler) {code, name, size, &Device::handler},
    static constexpr Command kTable[] = {VESKLINK_SIM_COMMANDS(VESKLINK_SIM_COMMAND)};
#undef VESKLINK_SIM_COMMAND
    return kTable;
}

std::optional<uint8_t> Device::CommandNamed(std::string_view name) {
    for (const auto& c : Commands()) {
        if (c.name == name) return c.code;
    }
    return std::nullopt;
}

Reply Device::Dispatch(uint8_t command, const Payload& p) {
    for (const auto& c : Commands()) {
        if (c.code != command) continue;
        if (p.size() < c.size.min || p.size() > c.size.max) return Fail(kBadFormat);
        return (this->*c.handler)(p);
    }
    return Fail(kUnknownCommand);
}

Device::Device(DeviceState state) : state_(std::move(state)) {
    clock_ = [] {
        using namespace std::chrono;
        const auto now = system_clock::now().time_since_epoch();
        return static_cast<int64_t>(duration_cast<seconds>(now).count());
    };
}

int64_t Device::Now() const { return clock_() + state_.clockOffset; }

void Device::RecordError(uint16_t code, const std::string& utf8Text) {
    state_.lastErrorCode = code;
    state_.lastErrorText = C(utf8Text.empty() ? ErrorTextUtf8(code) : utf8Text);
    if (state_.lastErrorText.size() > kLineWidth) state_.lastErrorText.resize(kLineWidth);
}

uint8_t Device::ShiftStateByte() const {
    if (!state_.shiftOpen) return 0;
    return Now() - state_.shiftOpenedAt >= kShiftLimitSeconds ? 2 : 1;
}

Reply Device::Handle(uint8_t command, uint32_t accessCode, const std::vector<uint8_t>& payload) {
    Reply r = accessCode == kAccessCode ? Dispatch(command, payload) : Fail(kBadAccessCode);
    if (r.status != kOk) {
        RecordError(r.status);
        r.data.clear();
        r.changed = true;
    }
    return r;
}

// ---- rules ----

uint16_t Device::First(std::initializer_list<uint16_t> refusals) {
    for (auto e : refusals) {
        if (e != kOk) return e;
    }
    return kOk;
}

uint16_t Device::NeedFiscalMode() const {
    return state_.fnState == 7 ? kFnClosed : !state_.registered ? kNotRegistered : kOk;
}

uint16_t Device::NeedPrinter() const {
    return state_.coverOpen ? kCoverOpen : state_.paperOut ? kPaperOut : kOk;
}

uint16_t Device::NeedNoDocument() const {
    return state_.document.kind == DocumentKind::None ? kOk : kDocumentOpen;
}

uint16_t Device::NeedSalesShift() const {
    return !state_.shiftOpen ? kShiftClosed : ShiftStateByte() == 2 ? kShiftExpired : kOk;
}

uint32_t Device::UnsentDocuments() const {
    return state_.lastDocumentNumber - std::min(state_.lastSentDocument, state_.lastDocumentNumber);
}

// ---- the FN's journal ----

Document& Device::AddFiscalDocument(uint8_t type, int64_t total) {
    const uint32_t number = ++state_.lastDocumentNumber;
    const DeviceTime time = ToDeviceTime(Now());
    const uint32_t sign = FiscalSign(state_.fnSerial, number, time, total);
    state_.journal.push_back({number, type, time, sign, {}});
    if (state_.ofdOnline) state_.lastSentDocument = number;
    return state_.journal.back();
}

}  // namespace vesklink::sim
