#include "sim_tape.h"

#include <cstdio>

#include "sim_device.h"
#include "sim_payload.h"

namespace vesklink::sim {
namespace {

std::string TagName(uint16_t tag) {
    switch (tag) {
        case 1005: return C("АДР. ОПЕР. ПЕРЕВОДА");
        case 1008: return C("ПОКУПАТЕЛЬ");
        case 1016: return C("ИНН ОПЕР. ПЕРЕВОДА");
        case 1026: return C("ОПЕРАТОР ПЕРЕВОДА");
        case 1044: return C("ОПЕРАЦИЯ АГЕНТА");
        case 1073: return C("ТЕЛ. АГЕНТА");
        case 1074: return C("ТЕЛ. ОПЕР. ПО ПРИЕМУ");
        case 1075: return C("ТЕЛ. ОПЕР. ПЕРЕВОДА");
        case 1171: return C("ТЕЛ. ПОСТАВЩИКА");
        case 1225: return C("ПОСТАВЩИК");
        case 1226: return C("ИНН ПОСТАВЩИКА");
        default: return C("РЕКВИЗИТ ") + std::to_string(tag);
    }
}

}  // namespace

std::string Money(int64_t v) {
    char buf[32];
    const uint64_t a = v < 0 ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
    std::snprintf(buf, sizeof buf, "%s%llu.%02llu", v < 0 ? "-" : "", static_cast<unsigned long long>(a / 100),
                  static_cast<unsigned long long>(a % 100));
    return buf;
}

std::string Quantity(uint64_t thousandths) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%03llu", static_cast<unsigned long long>(thousandths / 1000),
                  static_cast<unsigned long long>(thousandths % 1000));
    return buf;
}

std::string DateText(const DeviceTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%02u %02u:%02u", t[2], t[1], t[0], t[3], t[4]);
    return buf;
}

std::string Center(std::string_view text) {
    if (text.size() >= kLineWidth) return std::string(text.substr(0, kLineWidth));
    return std::string((kLineWidth - text.size()) / 2, ' ') + std::string(text);
}

std::string Rule(char c) { return std::string(kLineWidth, c); }

void Wrap(Lines& out, std::string_view text, size_t indent) {
    if (text.empty()) {
        out.emplace_back();
        return;
    }
    const size_t width = kLineWidth - indent;
    for (size_t i = 0; i < text.size(); i += width) {
        out.push_back(std::string(indent, ' ') + std::string(text.substr(i, width)));
    }
}

void Both(Lines& out, std::string_view left, std::string_view right) {
    if (left.size() + right.size() + 1 <= kLineWidth) {
        out.push_back(std::string(left) + std::string(kLineWidth - left.size() - right.size(), ' ') +
                      std::string(right));
        return;
    }
    Wrap(out, left);
    const std::string r(right.substr(0, kLineWidth));
    out.push_back(std::string(kLineWidth - r.size(), ' ') + r);
}

std::string OperationName(uint8_t operation) {
    switch (operation) {
        case 0: return C("ПРИХОД");
        case 1: return C("ВОЗВРАТ ПРИХОДА");
        case 2: return C("РАСХОД");
        default: return C("ВОЗВРАТ РАСХОДА");
    }
}

std::string VatName(uint8_t code) {
    switch (code) {
        case 1: return C("НДС 20%");
        case 2: return C("НДС 10%");
        case 3: return C("НДС 0%");
        case 4: return C("БЕЗ НДС");
        case 5: return C("НДС 20/120");
        case 6: return C("НДС 10/110");
        default: return C("НДС ?");
    }
}

std::string TaxationName(uint8_t bit) {
    switch (bit) {
        case 0x01: return C("ОСН");
        case 0x02: return C("УСН ДОХОД");
        case 0x04: return C("УСН ДОХОД-РАСХОД");
        case 0x08: return C("ЕНВД");
        case 0x10: return C("ЕСХН");
        case 0x20: return C("ПСН");
        default: return "?";
    }
}

void PrintTags(Lines& out, const std::vector<FiscalTag>& tags, size_t indent) {
    for (const auto& t : tags) Wrap(out, TagName(t.tag) + ": " + t.value, indent);
}

// ---- what the register prints around its documents ----

void Device::Print(const std::vector<std::string>& lines) {
    if (printer_) printer_(lines);
}

void Device::PrintFiscal(Document& doc, std::vector<std::string> lines) {
    for (auto& l : FiscalFooter(doc)) lines.push_back(l);
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
}

std::string Device::CashierName() const { return sim::CashierName(state_.cashier.data()); }

std::vector<std::string> Device::Header() const {
    std::vector<std::string> out;
    const auto& attrs = state_.registration.attributes;
    for (uint16_t tag : {1048, 1009}) {
        const auto it = attrs.find(tag);
        if (it != attrs.end() && !it->second.empty()) {
            std::vector<std::string> wrapped;
            Wrap(wrapped, it->second);
            for (auto& l : wrapped) out.push_back(Center(TrimRight(l)));
        }
    }
    return out;
}

std::vector<std::string> Device::FiscalFooter(const Document& doc) const {
    std::vector<std::string> out;
    const auto& r = state_.registration;
    Both(out, C("РН ККТ:"), r.kktNumber);
    Both(out, C("ЗН ККТ:"), state_.kktSerial);
    Both(out, C("ФН:"), state_.fnSerial);
    Both(out, C("ИНН:"), r.inn);
    Both(out, C("ФД:") + std::to_string(doc.number), C("ФП:") + std::to_string(doc.fiscalSign));
    Both(out, "", DateText(doc.time));
    return out;
}

}  // namespace vesklink::sim
