// The paper tape: its layout and names, and what the register prints around its documents.
#include <cstdio>
#include <utility>

#include "sim_device.h"

namespace vesklink::sim {
namespace {

std::string TagName(uint16_t tag) {
    static const std::pair<uint16_t, const char*> kNames[] = {
        {1005, "АДР. ОПЕР. ПЕРЕВОДА"}, {1008, "ПОКУПАТЕЛЬ"},           {1016, "ИНН ОПЕР. ПЕРЕВОДА"},
        {1026, "ОПЕРАТОР ПЕРЕВОДА"},   {1044, "ОПЕРАЦИЯ АГЕНТА"},      {1073, "ТЕЛ. АГЕНТА"},
        {1074, "ТЕЛ. ОПЕР. ПО ПРИЕМУ"}, {1075, "ТЕЛ. ОПЕР. ПЕРЕВОДА"}, {1171, "ТЕЛ. ПОСТАВЩИКА"},
        {1225, "ПОСТАВЩИК"},           {1226, "ИНН ПОСТАВЩИКА"},
    };
    for (const auto& [t, name] : kNames) {
        if (t == tag) return C(name);
    }
    return C("РЕКВИЗИТ ") + std::to_string(tag);
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
    static const char* const kNames[] = {"ПРИХОД", "ВОЗВРАТ ПРИХОДА", "РАСХОД", "ВОЗВРАТ РАСХОДА"};
    return C(kNames[operation < 3 ? operation : 3]);
}

std::string VatName(uint8_t code) {
    static const char* const kNames[] = {"НДС ?",   "НДС 20%",    "НДС 10%",   "НДС 0%",
                                         "БЕЗ НДС", "НДС 20/120", "НДС 10/110"};
    return C(kNames[code <= 6 ? code : 0]);
}

std::string TaxationName(uint8_t bit) {
    static const char* const kNames[] = {"ОСН", "УСН ДОХОД", "УСН ДОХОД-РАСХОД", "ЕНВД", "ЕСХН", "ПСН"};
    for (int i = 0; i < 6; ++i) {
        if (bit == 1 << i) return C(kNames[i]);
    }
    return "?";
}

void PrintTags(Lines& out, const std::vector<FiscalTag>& tags, size_t indent) {
    for (const auto& t : tags) Wrap(out, TagName(t.tag) + ": " + t.value, indent);
}

// ---- what the register prints around its documents ----

void Device::Print(const std::vector<std::string>& lines) {
    if (printer_) printer_(lines);
}

void Device::PrintFiscal(Document& doc, std::vector<std::string> lines) {
    Both(lines, C("РН ККТ:"), state_.registration.kktNumber);
    Both(lines, C("ЗН ККТ:"), state_.kktSerial);
    Both(lines, C("ФН:"), state_.fnSerial);
    Both(lines, C("ИНН:"), state_.registration.inn);
    Both(lines, C("ФД:") + std::to_string(doc.number), C("ФП:") + std::to_string(doc.fiscalSign));
    Both(lines, "", DateText(doc.time));
    lines.push_back(Rule('='));
    doc.lines = lines;
    Print(lines);
}

Reply Device::FiscalReply(Document& doc, std::vector<std::string> lines, const Payload& before) {
    PrintFiscal(doc, std::move(lines));
    return Ok(Out().Raw(before).Le(doc.number, 4).Le(doc.fiscalSign, 4).Take(), true);
}

std::string Device::CashierName() const { return sim::CashierName(state_.cashier.data()); }

std::vector<std::string> Device::Header() const {
    std::vector<std::string> out;
    const auto& attrs = state_.registration.attributes;
    for (uint16_t tag : {1048, 1009}) {
        const auto it = attrs.find(tag);
        if (it == attrs.end() || it->second.empty()) continue;
        Lines wrapped;
        Wrap(wrapped, it->second);
        for (auto& l : wrapped) out.push_back(Center(TrimRight(l)));
    }
    return out;
}

Lines Device::Titled(std::initializer_list<std::string_view> utf8Titles) const {
    Lines lines = Header();
    for (auto title : utf8Titles) lines.push_back(Center(C(title)));
    return lines;
}

}  // namespace vesklink::sim
