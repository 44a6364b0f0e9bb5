#include "sim_state.h"

#include <ctime>
#include <utility>

#include "sim_cp866.h"

namespace vesklink::sim {

std::string CashierName(const uint8_t* record) {
    return UpToZero(std::string(record + kCashierNameAt, record + kCashierNameAt + kCashierNameSize));
}

std::string CashierInn(const uint8_t* record) {
    return UpToZero(std::string(record + kCashierInnAt, record + kCashierInnAt + kCashierInnSize));
}

void SetCashierName(CashierRecord& record, std::string_view cp866) {
    for (size_t i = 0; i < kCashierNameSize; ++i) {
        record[kCashierNameAt + i] = i < cp866.size() ? static_cast<uint8_t>(cp866[i]) : 0;
    }
}

DeviceTime ToDeviceTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto byte = [](int v) { return static_cast<uint8_t>(v); };
    return {byte(tm.tm_year % 100), byte(tm.tm_mon + 1), byte(tm.tm_mday), byte(tm.tm_hour), byte(tm.tm_min)};
}

namespace {

// The registration of a new register, as its first fiscal document (number 1) recorded it.
void RegisterNew(DeviceState& s, int64_t now) {
    auto& r = s.registration;
    r.time = ToDeviceTime(now);
    r.kktNumber = "0000000001012345";
    r.inn = "7701234567";
    r.taxation = 0x03;
    r.reason = 1;
    r.documentNumber = 1;
    const std::pair<uint16_t, const char*> texts[] = {
        {1048, "ООО \"ВЕСК-ТЕСТ\""}, {1018, "7701234567"},     {1009, "г. Москва, ул. Тестовая, д. 1"},
        {1187, "Торговый зал"},      {1046, "ООО \"ОФД-ТЕСТ\""}, {1017, "7709876543"},
        {1060, "www.nalog.gov.ru"},  {1117, "kassa@example.ru"}, {1036, ""},
    };
    for (const auto& [tag, utf8] : texts) r.attributes[tag] = Cp866FromUtf8(utf8);
    r.attributes[1037] = r.kktNumber;
    // Every registration flag false, no agent types.
    for (uint16_t tag : {1221, 1110, 1108, 1001, 1002, 1056, 1109, 1207, 1193, 1126, 1057}) {
        r.attributes[tag] = std::string(1, '\x00');
    }
    r.attributes[1062] = std::string(1, static_cast<char>(r.taxation));
    r.attributes[1209] = std::string(1, '\x02');
    const std::vector<std::string> report = {Cp866FromUtf8("ОТЧЕТ О РЕГИСТРАЦИИ")};
    s.journal.push_back({1, kDocRegistration, r.time, 1234567890u, report});
    s.lastDocumentNumber = 1;
    s.lastSentDocument = 1;
}

}  // namespace

DeviceState NewDeviceState(bool registered, int64_t now) {
    DeviceState s;
    s.receiptSettings = {0x00, 0x00, 0x01, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    s.cashier[0] = 0x01;
    SetCashierName(s.cashier, Cp866FromUtf8("Администратор"));
    s.lastErrorText = Cp866FromUtf8("Ошибок нет");
    if (registered) {
        RegisterNew(s, now);
    } else {
        s.registered = false;
        s.modeByte = 0;
        s.fnState = 1;
    }
    return s;
}

}  // namespace vesklink::sim
