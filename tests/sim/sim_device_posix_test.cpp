// The simulated register driven with raw frames over a real pseudo-terminal: reply layouts at the
// offsets the driver reads, the receipt lifecycle, and the rules a register enforces.
#include <gtest/gtest.h>

#include <memory>

#include "sim.h"
#include "sim_cp866.h"
#include "sim_device.h"
#include "sim_test_link.h"

using namespace simtest;

namespace {

std::string Text40(const std::u16string& text) {
    std::string t = Cp866(text);
    t.resize(40, ' ');
    return t;
}

class SimDevice : public SimOnPty {
protected:
    // Sends a command that must succeed and returns its reply.
    Bytes Good(uint8_t command, const Bytes& payload = {}) {
        Bytes r = Ex(command, payload);
        EXPECT_TRUE(WellFormedReply(r, command)) << "command " << int(command) << " size " << r.size();
        EXPECT_EQ(Status(r), 0) << "command " << int(command);
        return r;
    }
    // The device's last error as 0xD7 reports it: code and 40 bytes of text.
    std::pair<uint16_t, std::string> LastError() {
        const Bytes r = Good(0xD7);
        EXPECT_GE(r.size(), 51u);
        return {static_cast<uint16_t>(Field(r, 8, 9)), std::string(r.begin() + 10, r.begin() + 50)};
    }
    // A command refused with this status word and its text.
    void Refused(uint8_t command, const Bytes& payload, uint16_t status, const std::u16string& text) {
        const Bytes r = Ex(command, payload);
        EXPECT_TRUE(WellFormedReply(r, command)) << "command " << int(command);
        EXPECT_EQ(Status(r), status) << "command " << int(command);
        const auto [code, message] = LastError();
        EXPECT_EQ(code, status);
        EXPECT_EQ(message, Text40(text));
    }
    std::string Tape() { return sim_->Tape(); }
};

TEST_F(SimDevice, NewRegisterAnswersEveryQueryAtTheDriversOffsets) {
    const auto [code, text] = LastError();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text, Text40(u"Ошибок нет"));
    Bytes r = Good(0xE2);
    ASSERT_GE(r.size(), 13u);
    EXPECT_NE(r[12], 0);  // registered

    r = Good(0xE0);
    ASSERT_GE(r.size(), 38u);
    EXPECT_EQ(r[8], 3);  // fiscal mode
    EXPECT_EQ(r[12], 0);  // no warnings
    EXPECT_EQ(Field(r, 34, 37), 1u);  // the registration report

    r = Good(0xF2);
    ASSERT_GE(r.size(), 10u);
    EXPECT_EQ(r[8], 0);

    r = Good(0xEC);
    ASSERT_GE(r.size(), 14u);
    EXPECT_EQ(Field(r, 9, 10), 0u);
    EXPECT_EQ(Field(r, 11, 12), 0u);

    r = Good(0xE8, {1});
    ASSERT_GE(r.size(), 53u);
    EXPECT_EQ(r[45], 0x03);
    EXPECT_EQ(std::string(r.begin() + 25, r.begin() + 41), "0000000001012345");
    EXPECT_EQ(r[41], 0);
    EXPECT_EQ(Field(r, 48, 51), 1u);
    EXPECT_GE(r[9], 1);
    EXPECT_LE(r[9], 12);  // month of the registration date

    r = Good(0xFF);
    ASSERT_GE(r.size(), 78u);
    EXPECT_EQ(r[77], 2);
    EXPECT_EQ(std::string(r.begin() + 40, r.begin() + 53), "0001234567890");

    r = Good(0xE1);
    ASSERT_GE(r.size(), 24u);
    EXPECT_EQ(std::string(r.begin() + 8, r.begin() + 24), "9999078900012345");

    // Registration attributes: a text, a flag, and one the register does not have.
    r = Good(0xE9, {1, 0x18, 0x04});  // 1048
    ASSERT_GE(r.size(), 12u);
    const size_t length = Field(r, 10, 11);
    ASSERT_GE(r.size(), length + 13);
    EXPECT_EQ(std::string(r.begin() + 12, r.begin() + 12 + static_cast<long>(length)), Cp866(u"ООО \"ВЕСК-ТЕСТ\""));
    r = Good(0xE9, {1, 0xB7, 0x04});  // 1207, excisable goods
    ASSERT_GE(r.size(), 14u);
    EXPECT_EQ(Field(r, 10, 11), 1u);
    EXPECT_EQ(r[12], 0);
    Refused(0xE9, {1, 0x0F, 0x27}, 0x13, u"Реквизит не найден");

    r = Good(0x04, {0x14, 0x00});
    EXPECT_GE(r.size(), 22u);
    r = Good(0x09, {0x40, 0x01, 0x01, 0x00});
    ASSERT_GE(r.size(), 105u);
    EXPECT_EQ(std::string(r.begin() + 11, r.begin() + 24), Cp866(u"Администратор"));
    EXPECT_EQ(r[24], 0);

    r = Good(0xFA);
    ASSERT_GE(r.size(), 37u);
    EXPECT_EQ(Field(r, 8, 15), 0u);

    r = Good(0xE4);
    ASSERT_GE(r.size(), 22u);
    EXPECT_EQ(Field(r, 10, 11), 0u);
    EXPECT_EQ(Field(r, 16, 20), 0u);

    r = Good(0xF1);
    ASSERT_GE(r.size(), 12u);
    EXPECT_EQ(r[8], 0);
    r = Good(0xF3);
    ASSERT_GE(r.size(), 12u);
    EXPECT_EQ(r[8], 0);
    EXPECT_EQ(r[9], 0);
    r = Good(0xC0, {0});
    EXPECT_GE(r.size(), 362u);
    Good(0x13);
}

TEST_F(SimDevice, ReceiptWithPositionsTagsAndMixedPaymentUpdatesEverything) {
    Bytes r = Good(0xD9, {0, 0});
    ASSERT_GE(r.size(), 15u);
    EXPECT_EQ(Field(r, 8, 9), 1u);
    EXPECT_EQ(Field(r, 10, 13), 2u);
    Good(0x50, Le(50000, 8));  // 500.00 into the drawer

    Good(0x8D, {0x04, 0x00, 0x00, 0x01});
    r = Good(0xF3);
    EXPECT_EQ(r[8], 1);
    Good(0xD8, Cat({Le(1073, 2), {0x00}, Counted("+79990001122")}));
    Good(0x80, Position(Cp866(u"Хлеб"), 2000, 4550));  // 2 x 45.50
    Good(0x80, Position(Cp866(u"Молоко"), 1500, 8001, 2));  // 1.5 x 80.01 = 120.015 -> 120.02
    Good(0xDB, Cat({{0x40, 0x00}, Bytes{'*', '*', '*'}}));
    Good(0xD8, Cat({Le(1008, 2), {0x00}, Counted("buyer@example.ru")}));
    r = Good(0x89, {0, 0});
    ASSERT_GE(r.size(), 16u);
    EXPECT_EQ(Field(r, 8, 15), 21102u);

    r = Good(0x85, Close(20000, 10000));  // 200.00 cash, 100.00 card: change 88.98
    ASSERT_GE(r.size(), 29u);
    EXPECT_EQ(r[15] & 0x80, 0);
    EXPECT_EQ(Field(r, 16, 17), 1u);
    EXPECT_EQ(Field(r, 18, 19), 1u);
    EXPECT_EQ(Field(r, 20, 23), 3u);
    const uint64_t sign = Field(r, 24, 27);
    EXPECT_NE(sign, 0u);

    r = Good(0xE5, Le(3, 4));
    ASSERT_GE(r.size(), 16u);
    EXPECT_GE(r[11], 1);
    EXPECT_LE(r[11], 12);
    r = Good(0xC0, {0});
    ASSERT_GE(r.size(), 362u);
    EXPECT_EQ(Field(r, 14, 17), 1u);
    EXPECT_EQ(Field(r, 18, 23), 21102u);
    EXPECT_EQ(Field(r, 90, 93), 0u);
    EXPECT_EQ(Field(r, 322, 325), 0u);
    r = Good(0xFA);
    EXPECT_EQ(Field(r, 8, 15), 50000u + 20000u - 8898u);
    r = Good(0xEC);
    EXPECT_EQ(r[8], 1);
    EXPECT_EQ(Field(r, 9, 10), 1u);
    EXPECT_EQ(Field(r, 11, 12), 1u);
    r = Good(0xE4);  // shift report and receipt wait for the OFD
    EXPECT_EQ(Field(r, 10, 11), 2u);
    EXPECT_EQ(Field(r, 12, 15), 2u);
    EXPECT_NE(Field(r, 16, 20), 0u);
    r = Good(0xF3);
    EXPECT_EQ(r[8], 0);

    const std::string tape = Tape();
    for (const char* expected : {"Хлеб", "  2.000 X 45.50", "=91.00", "Молоко", "=120.02", "***", "ИТОГ",
                                 "=211.02", "НАЛИЧНЫМИ", "=200.00", "БЕЗНАЛИЧНЫМИ", "=100.00", "СДАЧА", "=88.98",
                                 "ТЕЛ. АГЕНТА: +79990001122", "ПОКУПАТЕЛЬ: buyer@example.ru", "НДС 10%"}) {
        EXPECT_NE(tape.find(expected), std::string::npos) << expected;
    }
    EXPECT_NE(tape.find("ФП:" + std::to_string(sign)), std::string::npos);
}

TEST_F(SimDevice, CommandsInTheWrongStateAreRefusedWithMatchingText) {
    Refused(0x8D, {0x04, 0x00, 0x00, 0x01}, 0x20, u"Смена не открыта");
    Refused(0x41, {0, 0}, 0x20, u"Смена не открыта");
    Refused(0x80, Position("x", 1000, 100), 0x31, u"Чек не открыт");
    Refused(0x85, Close(100, 0), 0x31, u"Чек не открыт");
    Refused(0x89, {0, 0}, 0x31, u"Чек не открыт");
    Refused(0xDB, {0x40, 0x00, 'a'}, 0x30, u"Документ не открыт");
    Refused(0x88, {}, 0x30, u"Документ не открыт");
    Good(0xD9, {0, 0});
    Refused(0xD9, {0, 0}, 0x21, u"Смена уже открыта");
    Refused(0x8D, {0x04, 0x00, 0x00, 0x08}, 0x15, u"СНО не зарегистрирована в ККТ");
    Good(0x8D, {0x04, 0x00, 0x00, 0x01});
    Refused(0x81, Position("x", 1000, 100), 0x33, u"Тип позиции не совпадает с типом чека");
    Refused(0x80, Position("x", 0, 100), 0x34, u"Неверное количество или цена");
    Refused(0x85, Close(100, 0), 0x35, u"В чеке нет позиций");
    Refused(0x41, {0, 0}, 0x32, u"Открыт другой документ");
    Refused(0x80, Cat({Position("x", 1000, 100), {0}}), 0x02, u"Неверный формат команды");
    Refused(0x77, {}, 0x01, u"Неизвестная команда");
    // The last error stays until the next one: a successful command does not clear it.
    Good(0x80, Position("x", 1000, 100));
    EXPECT_EQ(LastError().first, 0x01);
    Good(0x88);
    EXPECT_EQ(Good(0xF3)[8], 0);
    EXPECT_NE(Tape().find("ЧЕК АННУЛИРОВАН"), std::string::npos);
}

TEST_F(SimDevice, ShortPaymentSetsTheClosingFlagAndKeepsTheReceiptOpen) {
    Good(0xD9, {0, 0});
    Good(0x8D, {0x04, 0x00, 0x00, 0x01});
    Good(0x80, Position("x", 1000, 10000));
    Bytes r = Good(0x85, Close(5000, 0));
    ASSERT_GE(r.size(), 29u);
    EXPECT_NE(r[15] & 0x80, 0);
    EXPECT_EQ(Good(0xF3)[8], 1);
    EXPECT_EQ(LastError(), std::make_pair(uint16_t{0x36}, Text40(u"Сумма оплаты меньше суммы чека")));
    // Non-cash payments never give change.
    Refused(0x85, Close(0, 12000), 0x37, u"Безналичная оплата больше суммы чека");
    r = Good(0x85, Close(5000, 6000));
    EXPECT_EQ(r[15] & 0x80, 0);
    EXPECT_EQ(Field(Good(0xFA), 8, 15), 4000u);  // 50.00 cash minus 10.00 change
    EXPECT_EQ(sim_->State().shiftCounters[0].payments[1], 6000u);
}

TEST_F(SimDevice, ExpiredShiftRefusesReceiptsButCanBeClosed) {
    Good(0xD9, {0, 0});
    ASSERT_EQ(sim_->Execute("set shift expired"), "");
    EXPECT_EQ(Good(0xF2)[8], 2);
    EXPECT_EQ(Good(0xE2)[9], 2);
    Refused(0x8D, {0x04, 0x00, 0x00, 0x01}, 0x22, u"Смена превысила 24 часа");
    Refused(0xD9, {0, 0}, 0x22, u"Смена превысила 24 часа");
    Bytes r = Good(0x41, {0, 0});
    ASSERT_GE(r.size(), 15u);
    EXPECT_EQ(Field(r, 8, 9), 1u);
    EXPECT_EQ(Field(r, 10, 13), 3u);
    EXPECT_EQ(Good(0xF2)[8], 0);
    r = Good(0xD9, {0, 0});
    EXPECT_EQ(Field(r, 8, 9), 2u);
    EXPECT_NE(Tape().find("ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ"), std::string::npos);
}

Bytes Fixed(const std::string& text, size_t width) {
    Bytes out(text.begin(), text.end());
    out.resize(width, 0);
    return out;
}

// The registration request in the order the driver lays it out.
Bytes Registration(uint8_t operation, const std::string& inn, uint8_t taxationCode) {
    Bytes tax(6, 0);
    tax[taxationCode] = 1;
    return Cat({{0, 0, 2, operation, 1}, Counted(Cp866(u"г. Тула")), Counted(Cp866(u"Касса 1")),
                Counted(Cp866(u"ИП Иванов")), Fixed(inn, 12), Fixed("0000000002000001", 16), Counted("Ivanov"),
                {0, 1}, Counted("www.nalog.gov.ru"), Counted("OFD"), Fixed("7709876543", 12), Counted("a@b.ru"), {0},
                Fixed("", 20), {0, 0, 0, 0, 1, 0, 0}, {1, 0, 0, 0, 0, 0, 0}, tax});
}

TEST_F(SimDevice, UnregisteredFnIsRegisteredReregisteredAndClosed) {
    vesklink::sim::Options options;
    options.unregistered = true;
    Start(options);
    EXPECT_EQ(Good(0xE2)[12], 0);
    EXPECT_EQ(Good(0xE0)[8], 1);
    Refused(0xD9, {0, 0}, 0x10, u"ФН не зарегистрирован");
    Refused(0xE8, {0}, 0x10, u"ФН не зарегистрирован");
    Refused(0x1D, Registration(2, "500100732259", 1), 0x10, u"ФН не зарегистрирован");
    Refused(0x1D, Registration(0, "12345", 1), 0x50, u"Некорректный ИНН");

    Good(0x1D, Registration(0, "500100732259", 1));
    EXPECT_EQ(Good(0xE2)[12], 1);
    EXPECT_EQ(Good(0xE0)[8], 3);
    Bytes r = Good(0xE8, {1});
    EXPECT_EQ(r[45], 0x02);
    EXPECT_EQ(Field(r, 48, 51), 1u);
    r = Good(0xE9, {1, 0x18, 0x04});
    EXPECT_EQ(std::string(r.begin() + 12, r.end() - 1), Cp866(u"ИП Иванов"));
    r = Good(0xE9, {1, 0xB7, 0x04});  // excisable goods were registered
    EXPECT_EQ(r[12], 1);
    r = Good(0xE9, {1, 0x21, 0x04});  // 1057 agent types: agent type 0
    EXPECT_EQ(r[12], 0x01);
    Refused(0x1D, Registration(0, "500100732259", 1), 0x11, u"ФН уже зарегистрирован");

    Good(0xD9, {0, 0});
    Refused(0x1D, Registration(2, "500100732259", 0), 0x23, u"Операция невозможна при открытой смене");
    Refused(0x1E, {0, 0}, 0x23, u"Операция невозможна при открытой смене");
    Good(0x41, {0, 0});
    Good(0x1D, Registration(2, "500100732259", 0));
    r = Good(0xE8, {1});
    EXPECT_EQ(r[45], 0x01);
    EXPECT_EQ(Field(r, 48, 51), 4u);
    Good(0x1E, {0, 0});
    EXPECT_EQ(Good(0xE0)[8], 7);
    Refused(0xD9, {0, 0}, 0x12, u"Архив ФН закрыт");
    const std::string tape = Tape();
    EXPECT_NE(tape.find("ОТЧЕТ О РЕГИСТРАЦИИ"), std::string::npos);
    EXPECT_NE(tape.find("ОТЧЕТ ОБ ИЗМЕНЕНИИ ПАРАМЕТРОВ"), std::string::npos);
    EXPECT_NE(tape.find("ОТЧЕТ О ЗАКРЫТИИ ФН"), std::string::npos);
}

TEST_F(SimDevice, CorrectionReceiptsCountTwiceAndTheDateIsOptional) {
    Good(0xD9, {0, 0});
    const Bytes header = {0x04, 0x00, 0x00, 0x01, 0x00};
    Good(0xD6, Cat({header, Counted("reason"), {0x15, 0x03, 0x05}, Counted("12")}));
    Good(0x80, Position("x", 1000, 1500));
    Good(0x85, Close(1500, 0));
    Good(0xD6, Cat({header, Counted("reason"), Counted("13")}));  // no date
    Good(0x85, Close(700, 300));  // amounts only: the payments are the total
    Bytes r = Good(0xC0, {0});
    EXPECT_EQ(Field(r, 14, 17), 2u);
    EXPECT_EQ(Field(r, 18, 23), 2500u);
    EXPECT_EQ(Field(r, 322, 325), 2u);
    EXPECT_EQ(Field(r, 326, 331), 2500u);
    EXPECT_EQ(Field(r, 332, 335), 0u);
    const std::string tape = Tape();
    EXPECT_NE(tape.find("КАССОВЫЙ ЧЕК КОРРЕКЦИИ"), std::string::npos);
    EXPECT_NE(tape.find("05.03.21"), std::string::npos);
    Refused(0xD6, Cat({header, Counted("reason"), {0x15}}), 0x02, u"Неверный формат команды");
}

TEST_F(SimDevice, SumCorrectionTakesTheHostsHundredths) {
    Good(0xD9, {0, 0});
    Good(0x8D, {0x04, 0x00, 0x00, 0x01});
    Good(0x80, Position("x", 3000, 3334));  // 100.02
    EXPECT_EQ(Field(Good(0x89, {0, 0}), 8, 15), 10002u);
    Bytes close = Close(10000, 0);
    close[1] = 0x10;
    close.push_back(0);  // the host's total ends in .00
    Good(0x85, close);
    EXPECT_EQ(Field(Good(0xC0, {0}), 18, 23), 10000u);
    EXPECT_NE(Tape().find("КОРРЕКЦИЯ СУММЫ"), std::string::npos);
    // A hundredths byte above 99 is not a correction.
    Good(0x8D, {0x04, 0x00, 0x00, 0x01});
    Good(0x80, Position("x", 1000, 100));
    close.back() = 150;
    Refused(0x85, close, 0x39, u"Недопустимая коррекция суммы чека");
}

TEST_F(SimDevice, CashMovesWithCashInOutSalesAndReturns) {
    Good(0xD9, {0, 0});
    Refused(0x51, Le(100, 8), 0x38, u"Недостаточно наличных в кассе");
    Refused(0x50, Le(0, 8), 0x3A, u"Неверная сумма");
    Good(0x50, Le(10000, 8));
    Good(0x51, Le(2500, 8));
    EXPECT_EQ(Field(Good(0xFA), 8, 15), 7500u);
    // A return of a sale pays cash out of the drawer.
    Good(0x8D, {0x04, 0x00, 0x01, 0x01});
    Good(0x82, Position("x", 1000, 9000));
    Refused(0x85, Close(9000, 0), 0x38, u"Недостаточно наличных в кассе");
    Good(0x85, Close(0, 9000));
    Good(0x8D, {0x04, 0x00, 0x01, 0x01});
    Good(0x82, Position("x", 1000, 5000));
    Good(0x85, Close(5000, 0));
    EXPECT_EQ(Field(Good(0xFA), 8, 15), 2500u);
    const Bytes r = Good(0xC0, {0});
    EXPECT_EQ(Field(r, 90, 93), 2u);
    EXPECT_EQ(Field(r, 94, 99), 14000u);
    const std::string tape = Tape();
    EXPECT_NE(tape.find("ВНЕСЕНИЕ"), std::string::npos);
    EXPECT_NE(tape.find("ВЫПЛАТА"), std::string::npos);
    EXPECT_NE(tape.find("ВОЗВРАТ ПРИХОДА"), std::string::npos);
}

TEST_F(SimDevice, TextDocumentsBarcodesReportsAndCopiesReachTheTape) {
    Good(0xDA, {0, 0});
    Good(0xDB, Cat({{0x40, 0x00}, Bytes{0x88, 0xE2, 0xAE, 0xA3, 0xAE}}));  // Итого
    Good(0xDE, Cat({{0x01, 0x06, 0x00, 0x03, 0x00, 0x04, 0x00}, Bytes{'h', 't', 't', 'p'}}));
    Good(0xDE, Cat({{0x00, 0x03, 0x00, 0x03, 0x00, 0x01, 0x00, 0x01, 0x00}, Bytes{'1', '2', '3'}}));
    Refused(0xDA, {0, 0}, 0x32, u"Открыт другой документ");
    EXPECT_EQ(Good(0xF3)[10], 1);
    Good(0xDF, {0, 0});
    Refused(0xDF, {0, 0}, 0x30, u"Документ не открыт");
    Good(0x40);
    Good(0x1F, {0, 0});
    Good(0x8C, Cat({Le(1, 4), Le(1, 4), {0x02, 0x00}}));
    Refused(0x8C, Cat({Le(99, 4), Le(99, 4), {0x02, 0x00}}), 0x14, u"Документ не найден");
    Refused(0xE5, Le(99, 4), 0x14, u"Документ не найден");
    const std::string tape = Tape();
    for (const char* expected : {"Итого", "[QR: http]", "[EAN: 123]", "X-ОТЧЕТ", "ОТЧЕТ О ТЕКУЩЕМ СОСТОЯНИИ",
                                 "*** КОПИЯ ***", "ОТЧЕТ О РЕГИСТРАЦИИ"}) {
        EXPECT_NE(tape.find(expected), std::string::npos) << expected;
    }
    // Every printed line fits the 40-column paper.
    size_t start = 0;
    while (start < tape.size()) {
        const size_t end = tape.find('\n', start);
        const std::string line = tape.substr(start, end - start);
        size_t columns = 0;
        for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
        EXPECT_LE(columns, 40u) << line;
        start = end + 1;
    }
}

TEST_F(SimDevice, TablesAreReadAndWrittenBack) {
    Bytes settings = Good(0x04, {0x14, 0x00});
    Bytes block(settings.begin() + 8, settings.begin() + 21);
    block[0] = block[1] = block[10] = 1;
    Good(0x05, Cat({{0x14, 0x00}, block}));
    settings = Good(0x04, {0x14, 0x00});
    EXPECT_EQ(Bytes(settings.begin() + 8, settings.begin() + 21), block);
    Refused(0x04, {0x15, 0x00}, 0x05, u"Таблица или запись не найдена");
    Refused(0x05, Cat({{0x14, 0x00}, Bytes(12, 0)}), 0x02, u"Неверный формат команды");

    Bytes record = Good(0x09, {0x40, 0x01, 0x01, 0x00});
    Bytes data(record.begin() + 8, record.begin() + 104);
    const std::string name = Cp866(u"Петрова А.");
    std::fill(data.begin() + 3, data.begin() + 67, 0);
    std::copy(name.begin(), name.end(), data.begin() + 3);
    std::string inn = "500100732259";
    std::copy(inn.begin(), inn.end(), data.begin() + 67);
    Good(0x0A, Cat({{0x40, 0x01, 0x01, 0x00}, data}));
    record = Good(0x09, {0x40, 0x01, 0x01, 0x00});
    EXPECT_EQ(Bytes(record.begin() + 8, record.begin() + 104), data);
    // A malformed INN is refused and nothing is stored.
    Bytes bad = data;
    bad[67] = 'x';
    Refused(0x0A, Cat({{0x40, 0x01, 0x01, 0x00}, bad}), 0x50, u"Некорректный ИНН");
    record = Good(0x09, {0x40, 0x01, 0x01, 0x00});
    EXPECT_EQ(Bytes(record.begin() + 8, record.begin() + 104), data);
    Good(0xD9, {0, 0});
    EXPECT_NE(Tape().find("Петрова А."), std::string::npos);
}

TEST_F(SimDevice, RejectsBadChecksumsWrongAccessCodesAndLineNoise) {
    Bytes frame = Frame(0x13);
    ASSERT_EQ(frame.size(), 9u);
    frame.back() ^= 0xFF;
    link_->Write(frame);
    Bytes raw = link_->Read(std::chrono::milliseconds(300), false);
    EXPECT_EQ(raw, Bytes{0x15});  // a NAK and nothing else

    link_->Write(Frame(0x13, {}, 123456));
    Bytes r = Link::Collect(link_->Read(std::chrono::milliseconds(2000)));
    EXPECT_TRUE(WellFormedReply(r, 0x13));
    EXPECT_EQ(Status(r), 0x03);
    EXPECT_EQ(LastError(), std::make_pair(uint16_t{0x03}, Text40(u"Неверный пароль доступа")));

    // Noise before a frame and a frame that arrives in pieces are both fine.
    link_->Write({0xFF, 0x00, 0x42});
    const Bytes f = Frame(0xF2);
    link_->Write(Bytes(f.begin(), f.begin() + 3));
    usleep(50000);
    link_->Write(Bytes(f.begin() + 3, f.end()));
    r = Link::Collect(link_->Read(std::chrono::milliseconds(2000)));
    EXPECT_TRUE(WellFormedReply(r, 0xF2));
    EXPECT_EQ(Status(r), 0);

    const auto journal = sim_->Journal();
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_FALSE(journal[0].checksumOk);
    EXPECT_EQ(journal[0].frame, frame);
    EXPECT_EQ(journal[3].command, 0xF2);
    EXPECT_EQ(journal[3].frame, f);
}

}  // namespace
