// The link to the register fails in the middle of a receipt, at every exchange of the receipt in
// turn and in three ways: from that exchange on no request reaches the register; from that
// exchange on the register carries requests out but no reply comes back; or one reply is lost and
// the line is sound again afterwards. In every case the method answers true exactly when the
// register registered the receipt, the receipt is never registered twice, no receipt stays open
// once the next Open has run, and after a single lost reply none stays open after the call. The
// only case the driver cannot know is a closing carried out whose reply is lost together with
// every later one: it answers false and says that the receipt may have been registered. A reply
// clock that turns every empty wait into a second keeps each 10-second time-out to about a tenth
// of a second. The test prints the whole table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "component/napi.h"
#include "operations/operations.h"
#include "sim.h"
#include "sim_cp866.h"
#include "util/text.h"
#include "support/temp_folder.h"

using namespace vesklink;

namespace {

constexpr int32_t kPort = 61;

class AcceleratedClock final : public ReplyClock {
public:
    std::chrono::steady_clock::duration Now() override { return now_; }
    void WaitForInput(ByteStream& port, int milliseconds) override {
        if (!port.WaitForInput(milliseconds)) now_ += std::chrono::seconds(1);
    }

private:
    std::chrono::steady_clock::duration now_{};
};

class HeapMemory final : public IMemoryManager {
public:
    bool ADDIN_API AllocMemory(void** memory, unsigned long byteCount) override {
        *memory = std::malloc(byteCount);
        return *memory != nullptr;
    }
    void ADDIN_API FreeMemory(void** memory) override {
        std::free(*memory);
        *memory = nullptr;
    }
};

// A component object as the host makes it, on the simulator's port, on the accelerated clock.
struct Component {
    HeapMemory memory;
    AcceleratedClock clock;
    nAPI api;
    Component() {
        api.setMemManager(&memory);
        api.PortNumber = kPort;
        api.Device.Link.SetReplyClock(&clock);
    }
};

enum class Breakage { RequestsLostFrom, RepliesLostFrom, OneReplyLost };
constexpr Breakage kBreakages[] = {Breakage::RequestsLostFrom, Breakage::RepliesLostFrom, Breakage::OneReplyLost};

std::string Fault(Breakage breakage, int exchange) {
    const std::string from = " from " + std::to_string(exchange);
    switch (breakage) {
        case Breakage::RequestsLostFrom: return "fault all silence" + from;
        case Breakage::RepliesLostFrom: return "fault all lost-reply" + from;
        case Breakage::OneReplyLost: return "fault all lost-reply once" + from;
    }
    return {};
}

struct Cell {
    bool result = false;         // the method's answer
    bool openAfterCall = false;  // a receipt open on the register when the method returned
    bool openAfterOpen = false;  // ... and after the next Open
    size_t registered = 0;       // fiscal receipts the register holds afterwards
    size_t closings = 0;         // closing commands the driver sent during the call
    std::vector<uint8_t> sent;   // the commands of the call, in order
    std::u16string error;        // the driver's own error text
    std::string output;          // the result document, UTF-8
    uint32_t documentNumber = 0;  // the register's last fiscal document
    std::string log;              // what the driver logged during the call
};

class ReceiptLinkLoss : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        logFolder_ = folder_.Path();
        setenv("XDG_DOCUMENTS_DIR", logFolder_.c_str(), 1);
        sim_ = std::make_unique<sim::Simulator>();
        const std::string path = sim_->Start();
        setenv(("VESKLINK_COM" + std::to_string(kPort)).c_str(), path.c_str(), 1);
    }
    void TearDown() override {
        if (sim_) sim_->Stop();
    }

    // One receipt on a fresh register with an open shift; `fault` breaks the link (empty: never).
    Cell Run(const std::u16string& package, bool correction, const std::string& fault) {
        EXPECT_EQ(sim_->Execute("reset\nset shift open"), "");
        Component component;
        nAPI& api = component.api;
        EXPECT_TRUE(Open(api.Device, PortSettings{kPort, 57600}));
        std::filesystem::remove(api.Logger.FilePath());
        sim_->ClearJournal();
        if (!fault.empty()) {
            EXPECT_EQ(sim_->Execute(fault), "");
        }

        tVariant params[4] = {};
        std::u16string text = package;
        tVariant& packageParam = params[correction ? 1 : 2];
        packageParam.vt = VTYPE_PWSTR;
        packageParam.value.wstr.pwstrVal = text.data();
        packageParam.value.wstr.wstrLen = static_cast<uint32_t>(text.size());
        params[1].vt = correction ? VTYPE_PWSTR : VTYPE_BOOL;
        tVariant result{};
        const long method = api.FindMethod(correction ? u"ProcessCorrectionCheck" : u"ProcessCheck");
        EXPECT_TRUE(api.CallAsFunc(method, &result, params, correction ? 3 : 4));
        Cell cell;
        tVariant& output = params[correction ? 2 : 3];
        if (output.vt == VTYPE_PWSTR) {
            cell.output = Utf16ToUtf8(std::u16string(output.value.wstr.pwstrVal, output.value.wstr.wstrLen));
            component.memory.FreeMemory(reinterpret_cast<void**>(&output.value.wstr.pwstrVal));
        }
        for (const auto& entry : sim_->Journal()) cell.sent.push_back(entry.command);
        for (uint8_t command : cell.sent) cell.closings += command == 0x85;
        cell.result = result.vt == VTYPE_BOOL && result.value.bVal;
        cell.error = api.Device.LastError.Text;
        cell.openAfterCall = sim_->State().document.kind != sim::DocumentKind::None;
        std::ifstream logFile(api.Logger.FilePath());
        cell.log.assign(std::istreambuf_iterator<char>(logFile), {});

        // The link comes back; the next connection, a call of the host's, cleans up.
        EXPECT_EQ(sim_->Execute("clear"), "");
        tVariant openParams[1] = {};
        EXPECT_TRUE(api.CallAsFunc(api.FindMethod(u"Open"), &result, openParams, 1));
        EXPECT_TRUE(result.value.bVal);
        const sim::DeviceState state = sim_->State();
        cell.openAfterOpen = state.document.kind != sim::DocumentKind::None;
        for (const auto& document : state.journal)
            cell.registered += document.type == sim::kDocReceipt || document.type == sim::kDocCorrection;
        cell.documentNumber = state.lastDocumentNumber;
        return cell;
    }

    // Every exchange of the unbroken receipt broken in turn, in each of the three ways.
    void Matrix(const char* title, const std::u16string& package, bool correction) {
        const Cell unbroken = Run(package, correction, "");
        EXPECT_TRUE(unbroken.result);
        EXPECT_EQ(unbroken.registered, 1u);
        // Per cell: the method's answer, the receipts the register holds, and whether a receipt is
        // open on the register after the call and after the next Open.
        const char* columns = "result registered open";
        std::printf("\n%s\n%-4s %-5s | %-25s | %-25s | %-25s\n%-10s | %-25s | %-25s | %-25s\n", title, "N", "cmd",
                    "requests lost from N on", "replies lost from N on", "one reply lost at N", "", columns, columns,
                    columns);
        for (size_t n = 1; n <= unbroken.sent.size(); ++n) {
            const uint8_t command = unbroken.sent[n - 1];
            std::printf("%-4zu 0x%02X  ", n, command);
            for (Breakage breakage : kBreakages) {
                const Cell c = Run(package, correction, Fault(breakage, static_cast<int>(n)));
                const bool single = breakage == Breakage::OneReplyLost;
                std::printf("| %-6s %-10zu %-3s/%-3s ", c.result ? "true" : "false", c.registered,
                            c.openAfterCall ? "yes" : "no", c.openAfterOpen ? "yes" : "no");
                const std::string where = "exchange " + std::to_string(n) + ", " + Fault(breakage, static_cast<int>(n));
                // The closing carried out and every reply lost from then on: the driver cannot
                // know, answers false and says so, and sends nothing after its one question.
                if (breakage == Breakage::RepliesLostFrom && command == 0x85) {
                    EXPECT_FALSE(c.result) << where;
                    EXPECT_EQ(c.registered, 1u) << where;
                    EXPECT_NE(Utf16ToUtf8(c.error).find("чек мог быть зарегистрирован"), std::string::npos) << where;
                    EXPECT_NE(c.log.find("[Error] Нет ответа ККТ на закрытие чека"), std::string::npos) << where;
                    EXPECT_EQ(c.sent.back(), 0xF3) << where;
                } else {
                    EXPECT_EQ(c.result, c.registered == 1) << where;
                }
                EXPECT_LE(c.registered, 1u) << where;
                EXPECT_LE(c.closings, 1u) << where;
                EXPECT_FALSE(c.openAfterOpen) << where;
                if (single) {
                    EXPECT_FALSE(c.openAfterCall) << where;
                }
                // A closing whose reply alone was lost: the numbers come from the register, the
                // fiscal sign (only the closing reply has it) stays empty.
                if (single && command == 0x85) {
                    EXPECT_NE(c.output.find("CheckNumber=\"" + std::to_string(c.documentNumber) + "\""),
                              std::string::npos) << c.output;
                    EXPECT_NE(c.output.find("FiscalSign=\"\""), std::string::npos) << c.output;
                    EXPECT_NE(c.output.find("ShiftClosingCheckNumber=\"1\""), std::string::npos) << c.output;
                    EXPECT_NE(c.log.find("[Warning] Чек зарегистрирован, но его фискальный признак не получен"),
                              std::string::npos) << where;
                }
            }
            std::printf("\n");
        }
        std::printf("open: a receipt open on the register after the call / after the next Open\n");
        std::fflush(stdout);
    }

    // One host call on the component; the text the component returned in `out` (when not null).
    bool Call(nAPI& api, const char16_t* method, std::vector<tVariant> params, size_t out = 0,
              std::string* text = nullptr) {
        tVariant result{};
        EXPECT_TRUE(api.CallAsFunc(api.FindMethod(method), &result, params.data(), static_cast<long>(params.size())));
        for (tVariant& param : params) {
            if (param.vt != VTYPE_PWSTR || !param.value.wstr.pwstrVal || &param - params.data() != long(out)) continue;
            if (text) *text = Utf16ToUtf8(std::u16string(param.value.wstr.pwstrVal, param.value.wstr.wstrLen));
            HeapMemory().FreeMemory(reinterpret_cast<void**>(&param.value.wstr.pwstrVal));
        }
        return result.vt == VTYPE_BOOL && result.value.bVal;
    }
    bool Check(nAPI& api, std::u16string& package, std::string* output = nullptr) {
        std::vector<tVariant> params(4);
        params[1].vt = VTYPE_BOOL;
        params[2].vt = VTYPE_PWSTR;
        params[2].value.wstr.pwstrVal = package.data();
        params[2].value.wstr.wstrLen = static_cast<uint32_t>(package.size());
        return Call(api, u"ProcessCheck", params, 3, output);
    }
    // Fiscal receipts on the register whose printed lines name the good.
    size_t ReceiptsOf(const char* good) {
        const std::string name = sim::Cp866FromUtf8(good);
        size_t count = 0;
        for (const auto& document : sim_->State().journal) {
            bool names = false;
            for (const std::string& line : document.lines) names = names || line.find(name) != std::string::npos;
            count += document.type == sim::kDocReceipt && names;
        }
        return count;
    }

    vktest::TempFolder folder_{"vesklink-linkloss"};
    std::unique_ptr<sim::Simulator> sim_;
    std::string logFolder_;
};

TEST_F(ReceiptLinkLoss, SaleWithAttributesTextAndBarcode) {
    const std::u16string package =
        u"<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"0\" CustomerEmail=\"a@b.ru\" />"
        u"<Positions>"
        u"<FiscalString Name=\"Кофе\" Quantity=\"1\" PriceWithDiscount=\"150\" AmountWithDiscount=\"150\" VATRate=\"20\" "
        u"DiscountAmount=\"15\"><AgentData AgentPhone=\"+7\" /></FiscalString>"
        u"<TextString Text=\"Спасибо\" /><Barcode Type=\"QR\" ValueBase64=\"MTIz\" />"
        u"<FiscalString Name=\"Чай\" Quantity=\"2\" PriceWithDiscount=\"50\" AmountWithDiscount=\"100\" VATRate=\"10\" />"
        u"</Positions><Payments Cash=\"200\" ElectronicPayment=\"50\" /></CheckPackage>";
    Matrix("Sale: the link fails at exchange N", package, false);
}

TEST_F(ReceiptLinkLoss, CorrectionReceipt) {
    const std::u16string package =
        u"<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"1\" CustomerPhone=\"+7900\">"
        u"<CorrectionData Type=\"0\" Description=\"Ошибка\" Date=\"2021-03-05T10:00:00\" Number=\"7\" /></Parameters>"
        u"<Positions><FiscalString Name=\"Выручка\" Quantity=\"1\" PriceWithDiscount=\"99.99\" "
        u"AmountWithDiscount=\"99.99\" VATRate=\"none\" /></Positions><Payments Cash=\"99.99\" /></CheckPackage>";
    Matrix("Correction receipt: the link fails at exchange N", package, true);
}

// The line dies around the closing command and the call answers false; then the cashier retries the
// same receipt, sends another, asks the status first, or closes the shift. The line is dead for
// the closing and the question after it (0xF3), from three moments on: the closing request never
// reached the register; the register carried it out and its reply was lost; the register restarted
// before carrying it out and dropped the open receipt. In every row the answers tell the truth, the sale
// is registered at most once (exactly once where the cashier's retry can be registered at all: a
// closed shift refuses it), a retry of a registered sale is answered with that receipt's numbers,
// and no receipt is left open.
TEST_F(ReceiptLinkLoss, ARetryAfterAnUnknownClosingNeverRegistersTheSaleTwice) {
    auto sale = [](const char* good) {
        return u"<CheckPackage><Parameters OperationType=\"1\" TaxationSystem=\"0\" /><Positions>"
               u"<FiscalString Name=\"" + Utf8ToUtf16(good) + u"\" Quantity=\"1\" PriceWithDiscount=\"10\" "
               u"AmountWithDiscount=\"10\" VATRate=\"20\" /></Positions><Payments Cash=\"10\" /></CheckPackage>";
    };
    enum Moment { RequestLost, Executed, Restarted };
    enum Next { Retry, Another, StatusThenRetry, ShiftClosedThenRetry };
    struct Row {
        Moment moment;
        Next next;
        std::vector<bool> answers;  // every call after the first, which answers false
        size_t sales, others;       // receipts of the sale and of the other receipt afterwards
    };
    const Row rows[] = {
        {RequestLost, Retry, {true}, 1, 0},           {RequestLost, Another, {true}, 0, 1},
        {RequestLost, StatusThenRetry, {true, true}, 1, 0}, {RequestLost, ShiftClosedThenRetry, {true, false}, 0, 0},
        {Executed, Retry, {true}, 1, 0},              {Executed, Another, {true}, 1, 1},
        {Executed, StatusThenRetry, {true, true}, 1, 0},    {Executed, ShiftClosedThenRetry, {true, false}, 1, 0},
        {Restarted, Retry, {true}, 1, 0},             {Restarted, Another, {true}, 0, 1},
        {Restarted, StatusThenRetry, {true, true}, 1, 0},   {Restarted, ShiftClosedThenRetry, {true, false}, 0, 0},
    };
    const char* moments[] = {"request lost", "executed, reply lost", "register restarted"};
    const char* nexts[] = {"retry", "another receipt", "status, retry", "shift closed, retry"};
    std::printf("\n%-21s %-20s %-18s %-6s %-6s %s\n", "line dies", "then", "answers", "sale", "other", "open");
    for (const Row& row : rows) {
        ASSERT_EQ(sim_->Execute("reset"), "");
        Component component;
        nAPI& api = component.api;
        std::string out;
        ASSERT_TRUE(Call(api, u"Open", std::vector<tVariant>(1)));
        ASSERT_TRUE(Call(api, u"OpenShift", std::vector<tVariant>(3), 2, &out));
        const char* dies[] = {"fault 0x85 dead lost for 1", "fault 0x85 dead executed for 1", "fault 0x85 dead restart for 1"};
        ASSERT_EQ(sim_->Execute(dies[row.moment]), "");
        std::u16string package = sale("Хлеб"), other = sale("Молоко");
        std::vector<bool> answers{Check(api, package)};
        if (row.next == StatusThenRetry) answers.push_back(Call(api, u"GetCurrentStatus", std::vector<tVariant>(3), 2, &out));
        if (row.next == ShiftClosedThenRetry) answers.push_back(Call(api, u"CloseShift", std::vector<tVariant>(3), 2, &out));
        std::string result;
        answers.push_back(row.next == Another ? Check(api, other, &result) : Check(api, package, &result));
        const bool open = sim_->State().document.kind != sim::DocumentKind::None;
        std::string shown;
        for (bool answer : answers) shown += answer ? "true " : "false ";
        std::printf("%-21s %-20s %-18s %-6zu %-6zu %s\n", moments[row.moment], nexts[row.next], shown.c_str(),
                    ReceiptsOf("Хлеб"), ReceiptsOf("Молоко"), open ? "yes" : "no");
        const std::string where = std::string(moments[row.moment]) + ", " + nexts[row.next];
        std::vector<bool> expected{false};
        expected.insert(expected.end(), row.answers.begin(), row.answers.end());
        EXPECT_EQ(answers, expected) << where;
        EXPECT_EQ(ReceiptsOf("Хлеб"), row.sales) << where;
        EXPECT_EQ(ReceiptsOf("Молоко"), row.others) << where;
        EXPECT_FALSE(open) << where;
        // A true answer names the register's last receipt; a retry answered from it has no fiscal sign.
        if (answers.back()) {
            EXPECT_NE(result.find("CheckNumber=\"" + std::to_string(sim_->State().lastDocumentNumber) + "\""),
                      std::string::npos) << where << result;
        }
        if (row.moment == Executed && row.next != Another && answers.back()) {
            EXPECT_NE(result.find("FiscalSign=\"\""), std::string::npos) << where << result;
        }
    }
    std::fflush(stdout);
}

}  // namespace
