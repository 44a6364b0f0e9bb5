// Faults on demand, line pacing, the command language and the control folder of the simulator,
// observed on the line the way the driver sees it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "sim.h"
#include "sim_test_link.h"

using namespace simtest;
using namespace std::chrono;

namespace {

class SimFaults : public SimOnPty {
protected:
    void Script(const std::string& text) { ASSERT_EQ(sim_->Execute(text), ""); }

    // The raw bytes that come back for one request within the time.
    Bytes Raw(uint8_t command, const Bytes& payload = {}, milliseconds limit = milliseconds(300)) {
        return Raw(Frame(command, payload), limit);
    }
    Bytes Raw(const Bytes& frame, milliseconds limit = milliseconds(300)) {
        link_->Drain();
        const size_t before = sim_->RequestCount();
        link_->Write(frame);
        Bytes raw = link_->Read(limit);
        // Silence is only silence once the register has seen the request.
        EXPECT_TRUE(sim_->WaitForRequests(before + 1, milliseconds(2000)));
        return raw;
    }
};

TEST_F(SimFaults, SilenceAndNakLoseTheRequestOnce) {
    Script("fault 0xD9 silence once\nfault 0x13 nak once");
    EXPECT_TRUE(Raw(0xD9, {0, 0}).empty());
    EXPECT_EQ(Ex(0xF2)[8], 0);  // the lost request was not executed
    EXPECT_EQ(Raw(0x13), Bytes{0x15});
    EXPECT_EQ(Status(Ex(0x13)), 0);  // once: the next one is answered
    EXPECT_EQ(Status(Ex(0xD9, {0, 0})), 0);
    EXPECT_EQ(sim_->Journal().size(), 5u);  // lost requests are in the journal too
}

TEST_F(SimFaults, LostReplyExecutesTheCommandWithoutAnswering) {
    Script("fault 0xD9 lost-reply once");
    EXPECT_TRUE(Raw(0xD9, {0, 0}).empty());
    EXPECT_EQ(Ex(0xF2)[8], 1);
}

// A line that dies with the closing command: the receipt's fate at each moment, the further
// requests lost, and a line that lives again for the retry.
TEST_F(SimFaults, DeadLineLosesTheTriggerAndTheRequestsAfterIt) {
    struct Row {
        const char* moment;
        uint8_t receiptOpen;  // 0xF3 byte 8 once the line is back
        uint32_t lastDocument;  // 0xE0: 2 is the shift's opening, 3 the receipt
    };
    for (const Row row : {Row{"lost", 1, 2}, Row{"executed", 0, 3}, Row{"restart", 0, 2}}) {
        SCOPED_TRACE(row.moment);
        Start();
        Script("set cash 100");
        EXPECT_EQ(Status(Ex(0xD9, {0, 0})), 0);
        EXPECT_EQ(Status(Ex(0x8D, {0x04, 0x00, 0x00, 0x01})), 0);
        EXPECT_EQ(Status(Ex(0x80, Position("x", 1000, 500))), 0);
        Script(std::string("fault close-receipt dead ") + row.moment + " for 2");
        EXPECT_TRUE(Raw(0x85, Close(500, 0)).empty());
        EXPECT_TRUE(Raw(0xF3).empty());
        Bytes frame = Frame(0x13);
        frame.back() ^= 0xFF;  // not even a NAK for a bad frame
        EXPECT_TRUE(Raw(frame).empty());
        EXPECT_EQ(Ex(0xF3)[8], row.receiptOpen);
        EXPECT_EQ(Field(Ex(0xE0), 34, 37), row.lastDocument);
        EXPECT_EQ(sim_->State().document.kind == vesklink::sim::DocumentKind::None, row.receiptOpen == 0);
        EXPECT_EQ(Status(Ex(0x85, Close(500, 0))), row.receiptOpen ? 0 : 0x31);  // once: no second death
    }
}

TEST_F(SimFaults, DeadLineForATimeRestartAndClear) {
    Script("fault all dead lost until 1s");
    const auto start = steady_clock::now();
    EXPECT_TRUE(Raw(0x13, {}, milliseconds(100)).empty());
    EXPECT_TRUE(Raw(0xD9, {0, 0}, milliseconds(100)).empty());
    std::this_thread::sleep_until(start + milliseconds(1050));
    EXPECT_EQ(Status(Ex(0x13)), 0);
    EXPECT_EQ(Ex(0xF2)[8], 0);  // lost, not executed
    // restart drops an open document, keeps the faults; clear brings a dead line back.
    EXPECT_EQ(Status(Ex(0xDA, {0, 0})), 0);
    Script("fault 0x13 nak once\nrestart");
    EXPECT_EQ(Ex(0xF3)[10], 0);
    EXPECT_EQ(Raw(0x13), Bytes{0x15});
    Script("fault 0x13 dead executed for 100");
    EXPECT_TRUE(Raw(0x13).empty());
    EXPECT_TRUE(Raw(0x13).empty());
    Script("clear");
    EXPECT_EQ(Status(Ex(0x13)), 0);
}

TEST_F(SimFaults, GarbageCutAndDelayDamageOnlyTheReply) {
    Script("fault 0xD9 garbage FF 00 FF 55 once");
    Bytes raw = Raw(0xD9, {0, 0}, milliseconds(2000));
    ASSERT_GE(raw.size(), 5u);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 4), (Bytes{0xFF, 0x00, 0xFF, 0x55}));
    EXPECT_EQ(raw[4], 0x06);
    EXPECT_TRUE(WellFormedReply(Link::Collect(raw), 0xD9));
    EXPECT_EQ(Ex(0xF2)[8], 1);  // executed

    Script("fault 0xC0 cut 100 once");
    raw = Raw(0xC0, {0}, milliseconds(500));
    EXPECT_EQ(raw.size(), 100u);
    EXPECT_EQ(raw[0], 0x06);
    EXPECT_EQ(Ex(0xC0, {0}).size(), 363u);

    Script("fault 0x13 delay 300");
    const auto start = steady_clock::now();
    const Bytes r = Ex(0x13);
    EXPECT_GE(steady_clock::now() - start, milliseconds(290));
    EXPECT_EQ(Status(r), 0);
}

TEST_F(SimFaults, ChosenStatusAndScriptedRepliesReplaceTheCommand) {
    Script("fault 0xD9 status 0x1234 once\nfault 0xE2 reply 01 02 03 04 00");
    Bytes r = Ex(0xD9, {0, 0});
    EXPECT_TRUE(WellFormedReply(r, 0xD9));
    EXPECT_EQ(Status(r), 0x1234);
    EXPECT_EQ(Ex(0xF2)[8], 0);
    r = Ex(0xD7);
    EXPECT_EQ(Field(r, 8, 9), 0x1234u);
    std::string text = Cp866(u"Ошибка 0x1234");
    text.resize(40, ' ');
    EXPECT_EQ(std::string(r.begin() + 10, r.begin() + 50), text);

    r = Ex(0xE2);
    EXPECT_EQ(Status(r), 0);
    EXPECT_EQ(r.size(), 14u);
    EXPECT_EQ(Bytes(r.begin() + 8, r.end() - 1), (Bytes{1, 2, 3, 4, 0}));
    Script("fault 0x13 reply");  // no data at all: the 8-byte reply the driver counts as failure
    EXPECT_EQ(Ex(0x13).size(), 9u);
    Script("clear 0xE2");
    EXPECT_EQ(Ex(0xE2)[12], 1);
}

TEST_F(SimFaults, PaperOutAndCoverOpenShowIn0xF1AndStopPrinting) {
    Script("set cash 100");
    EXPECT_EQ(Status(Ex(0xD9, {0, 0})), 0);
    EXPECT_EQ(Status(Ex(0x8D, {0x04, 0x00, 0x00, 0x01})), 0);
    EXPECT_EQ(Status(Ex(0x80, Position("x", 1000, 500))), 0);
    Script("fault 0x85 paper-out once");
    EXPECT_EQ(Status(Ex(0x85, Close(500, 0))), 0x40);
    EXPECT_EQ(Ex(0xF1)[8], 0x02);
    EXPECT_EQ(Ex(0xF3)[8], 1);
    EXPECT_EQ(Status(Ex(0x85, Close(500, 0))), 0x40);  // still no paper
    EXPECT_EQ(Status(Ex(0x88)), 0);  // cancelling prints nothing
    Script("set paper ok\nset cover open");
    EXPECT_EQ(Ex(0xF1)[8], 0x01);
    EXPECT_EQ(Status(Ex(0x40)), 0x41);
    Script("set cover closed\nfault 0x40 cover-open");
    EXPECT_EQ(Status(Ex(0x40)), 0x41);
    EXPECT_EQ(Ex(0xF1)[8], 0x01);
    Script("clear\nset cover closed");
    EXPECT_EQ(Status(Ex(0x40)), 0);
}

TEST_F(SimFaults, CountsDecideWhichRequestsAreHit) {
    Script("fault 0x13 nak times 2");
    EXPECT_EQ(Raw(0x13), Bytes{0x15});
    EXPECT_EQ(Raw(0x13), Bytes{0x15});
    EXPECT_EQ(Status(Ex(0x13)), 0);

    Script("fault 0x13 status 5 after 1 once");
    EXPECT_EQ(Status(Ex(0x13)), 0);
    EXPECT_EQ(Status(Ex(0x13)), 5);
    EXPECT_EQ(Status(Ex(0x13)), 0);

    // Breaking the link from the third request on, whatever the commands are.
    Script("fault all silence from 3");
    EXPECT_EQ(Status(Ex(0xF2)), 0);
    EXPECT_EQ(Status(Ex(0xEC)), 0);
    EXPECT_TRUE(Raw(0xE2).empty());
    EXPECT_TRUE(Raw(0x13).empty());
    Script("clear");
    EXPECT_EQ(Status(Ex(0x13)), 0);
}

TEST_F(SimFaults, LineSpeedAndProcessingTimePaceTheExchange) {
    vesklink::sim::Options options;
    options.baud = 9600;
    Start(options);
    auto start = steady_clock::now();
    const Bytes r = Ex(0xC0, {0});
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(r.size(), 363u);
    EXPECT_GE(took, milliseconds(330));  // 363 bytes of 10 bits at 9600 bit/s: 378 ms
    EXPECT_LT(took, milliseconds(2000));

    // The request crosses the same line: 309 bytes at 9600 bit/s before the register acts.
    start = steady_clock::now();
    EXPECT_FALSE(Ex(0x13, Bytes(300, 0)).empty());
    EXPECT_GE(steady_clock::now() - start, milliseconds(300));

    Script("set baud 0\nset processing 200");
    start = steady_clock::now();
    EXPECT_EQ(Status(Ex(0x13)), 0);
    EXPECT_GE(steady_clock::now() - start, milliseconds(190));
}

TEST_F(SimFaults, SettingsChangeWhatTheDriverReads) {
    Script(
        "# state for a status report\n"
        "set shift open\n"
        "set shift-number 41\n"
        "set shift-receipts 7\n"
        "set cash 123.13\n"
        "set counter 1 count 10 amount 100 corrections 2 correction-amount 20.5\n"
        "set fn-warnings 0x05\n"
        "set mode 7\n"
        "set taxation 0x21\n"
        "set attr 1048 text  ИП  Сидоров\n"
        "set attr 1207 flag 1\n"
        "set attr 1057 byte 0x23\n"
        "set doc-number 500\n"
        "set backlog 3\n"
        "set clock 2024-03-07T09:05\n"
        "set error 0x77 Своя ошибка\n");
    Bytes r = Ex(0xEC);
    EXPECT_EQ(r[8], 1);
    EXPECT_EQ(Field(r, 9, 10), 41u);
    EXPECT_EQ(Field(r, 11, 12), 7u);
    EXPECT_EQ(Field(Ex(0xFA), 8, 15), 12313u);
    r = Ex(0xC0, {0});
    EXPECT_EQ(Field(r, 14, 17), 10u);
    EXPECT_EQ(Field(r, 18, 23), 10000u);
    EXPECT_EQ(Field(r, 322, 325), 2u);
    EXPECT_EQ(Field(r, 326, 331), 2050u);
    r = Ex(0xE0);
    EXPECT_EQ(r[12], 0x05);
    EXPECT_EQ(Field(r, 34, 37), 500u);
    EXPECT_EQ(Ex(0xE2)[12], 7);
    EXPECT_EQ(Ex(0xE8, {7})[45], 0x21);
    r = Ex(0xE9, {7, 0x18, 0x04});
    EXPECT_EQ(std::string(r.begin() + 12, r.end() - 1), Cp866(u"ИП  Сидоров"));
    EXPECT_EQ(Ex(0xE9, {7, 0xB7, 0x04})[12], 1);
    EXPECT_EQ(Ex(0xE9, {7, 0x21, 0x04})[12], 0x23);
    r = Ex(0xE4);
    EXPECT_EQ(Field(r, 10, 11), 3u);
    EXPECT_EQ(Field(r, 12, 15), 498u);
    r = Ex(0xD7);
    EXPECT_EQ(Field(r, 8, 9), 0x77u);
    EXPECT_EQ(std::string(r.begin() + 10, r.begin() + 21), Cp866(u"Своя ошибка"));
    // The register's clock dates the next document.
    EXPECT_EQ(Status(Ex(0x41, {0, 0})), 0);
    r = Ex(0xE5, Le(501, 4));
    EXPECT_EQ(Bytes(r.begin() + 10, r.begin() + 15), (Bytes{24, 3, 7, 9, 5}));
}

TEST_F(SimFaults, ScriptErrorsAreReportedAndChangeNothing) {
    const std::string errors = sim_->Execute(
        "set cash 5\n"
        "fault 0x85 explode\n"
        "set cash 1.234\n"
        "set counter 5 count 1\n"
        "fault 0x300 nak\n"
        "bogus\n"
        "set shift sideways\n"
        "fault 0x85 dead lost\n"
        "fault 0x85 dead sideways for 1\n");
    EXPECT_EQ(errors.find("line 1"), std::string::npos);
    for (const char* line : {"line 2: unknown fault kind", "line 3:", "line 4:", "line 5:", "line 6: unknown statement",
                             "line 7:", "line 8: fault dead needs", "line 9: fault dead: lost, executed"}) {
        EXPECT_NE(errors.find(line), std::string::npos) << line << "\n" << errors;
    }
    EXPECT_EQ(sim_->State().cash, 500);
    EXPECT_FALSE(sim_->State().shiftOpen);
    EXPECT_EQ(Status(Ex(0x85, Close(1, 0))), 0x31);  // no fault was added
    Script("set cash 10\nreset unregistered");
    EXPECT_EQ(sim_->State().cash, 0);
    EXPECT_EQ(Ex(0xE2)[12], 0);
}

void WriteCommands(const std::string& dir, const std::string& text) {
    const std::string temp = dir + "/commands.new";
    std::ofstream(temp, std::ios::binary) << text;
    ASSERT_EQ(rename(temp.c_str(), (dir + "/commands").c_str()), 0);
}

TEST_F(SimFaults, ControlFolderTakesCommandsAndJournalsRequests) {
    char dirTemplate[] = "/tmp/vesklink-sim-control-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    vesklink::sim::Options options;
    options.controlDir = dir;
    Start(options);

    WriteCommands(dir, "set cash 50\nfault 0x13 nak once\n");
    EXPECT_EQ(Status(Ex(0xF2)), 0);  // the commands run before this request is handled
    struct stat st {};
    EXPECT_NE(stat((dir + "/commands").c_str(), &st), 0);  // taken and deleted
    EXPECT_EQ(ReadAll(dir + "/results"), "ok\n");
    EXPECT_EQ(Field(Ex(0xFA), 8, 15), 5000u);
    EXPECT_EQ(Raw(0x13), Bytes{0x15});

    WriteCommands(dir, "set nothing 1\nreset\n");
    EXPECT_EQ(Status(Ex(0x13)), 0);
    EXPECT_EQ(Field(Ex(0xFA), 8, 15), 0u);
    EXPECT_EQ(ReadAll(dir + "/results"), "ok\nerror: line 1: unknown setting \"nothing\"\n");

    // One line per request frame: the command code and the whole frame in hex.
    std::istringstream journal(ReadAll(dir + "/journal"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(journal, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "F2 010500F2655E0700C0");
    EXPECT_EQ(lines[2].substr(0, 3), "13 ");
    for (const auto& name : {"/journal", "/results"}) unlink((dir + name).c_str());
    rmdir(dir.c_str());
}

}  // namespace
