// The register's cached readings, over its own COM port on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "operations/cash_register.h"
#include "pty_peer_posix.h"
#include "support/step_clock.h"
#include "support/wire.h"

using namespace vesklink;
using vktest::ReplyFrame;

namespace {

constexpr uint32_t Port = 44;

// The register keeps what a shorter reply leaves out: fiscal mode once seen, the last document
// number last read.
TEST(CashRegisterReadings, FiscalModeAndTheLastKnownDocumentOutliveAShorterReply) {
    vesklink::testing::PtyPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.MapPort(Port);
    char folder[] = "/tmp/vesklink-queries-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("XDG_DOCUMENTS_DIR", folder, 1);
    {
        Logger logger;
        CashRegister device(logger);
        vktest::StepClock clock(200);
        device.Link.SetReplyClock(&clock);
        ASSERT_TRUE(device.Port.OpenPort(Port, 57600));
        Bytes full(30, 0);
        full[0] = 3;
        full[26] = 7;
        int call = 0;
        peer.Start([&](const Bytes&) { return call++ == 0 ? ReplyFrame(0xE0, 0, full) : ReplyFrame(0xE0, 0, {1, 0, 0, 0, 0}); });
        ASSERT_TRUE(device.QueryFnState());
        ASSERT_TRUE(device.QueryFnState());
        EXPECT_TRUE(device.FnFiscalMode);
        EXPECT_EQ(device.LastDocumentNumber, 7u);
        peer.Stop();
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
