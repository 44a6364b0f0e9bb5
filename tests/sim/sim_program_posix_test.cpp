// The vesklink-sim program: a receipt that survives kill -9 and a restart with --state, a state
// file that is never torn by a kill, and the options around the line.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "sim.h"
#include "sim_test_link.h"
#include "sim_state.h"

using namespace simtest;
using namespace std::chrono;

namespace {

std::string ProgramPath() {
    char buf[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return self.substr(0, self.rfind('/') + 1) + "vesklink-sim";
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The program in a child process; its first output line is the line's path.
class Program {
public:
    ~Program() { Kill(SIGKILL); }

    bool Start(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return false;
        pid_ = Spawn(args, out, false);
        close(out[1]);
        out_ = out[0];
        // The first line, within a generous time.
        std::string line;
        const auto until = steady_clock::now() + seconds(10);
        while (steady_clock::now() < until) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c;
            if (read(out_, &c, 1) != 1) break;
            if (c == '\n') {
                path_ = line;
                return true;
            }
            line += c;
        }
        return false;
    }

    // Sends a signal and waits for the exit; the exit status, or -1.
    int Kill(int signal) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        if (out_ >= 0) close(out_);
        out_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Runs to completion (for options that end the program) and returns the exit status and output.
    static int Run(const std::vector<std::string>& args, std::string& output) {
        int out[2];
        if (pipe(out) != 0) return -1;
        const pid_t pid = Spawn(args, out, true);
        close(out[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) output.append(buf, static_cast<size_t>(n));
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Path() const { return path_; }

private:
    // The program with these arguments, its standard output (and error) into the pipe.
    static pid_t Spawn(const std::vector<std::string>& args, int out[2], bool withErrors) {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        dup2(out[1], 1);
        if (withErrors) dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        static std::string program = ProgramPath();
        argv.push_back(program.data());
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/vesklink-sim-test-XXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

Bytes Good(Link& link, uint8_t command, const Bytes& payload = {}) {
    Bytes r = link.Exchange(command, payload);
    EXPECT_TRUE(WellFormedReply(r, command)) << "command " << int(command);
    EXPECT_EQ(Status(r), 0) << "command " << int(command);
    return r;
}

TEST(SimProgram, ReceiptSoldOverRawFramesSurvivesKillAndRestart) {
    TempDir dir;
    const std::string state = dir / "register.state", tape = dir / "tape.txt";
    {
        Program sim;
        ASSERT_TRUE(sim.Start({"--state", state, "--tape", tape}));
        Link link(sim.Path());
        ASSERT_TRUE(link.Ok());
        Good(link, 0xD9, {0, 0});
        Good(link, 0x8D, {0x04, 0x00, 0x00, 0x01});
        Good(link, 0x80, Position(Cp866(u"Хлеб белый"), 2000, 4550));
        Good(link, 0x80, Position(Cp866(u"Молоко"), 1000, 8000));
        const Bytes r = Good(link, 0x85, Close(10000, 7100));
        ASSERT_GE(r.size(), 29u);
        EXPECT_EQ(Field(r, 20, 23), 3u);
        EXPECT_EQ(sim.Kill(SIGKILL), -1);
    }
    const std::string printed = ReadAll(tape);
    for (const char* expected : {"КАССОВЫЙ ЧЕК", "Хлеб белый", "  2.000 X 45.50", "Молоко", "=171.00", "НАЛИЧНЫМИ",
                                 "=100.00", "БЕЗНАЛИЧНЫМИ", "=71.00", "ФД:3"}) {
        EXPECT_NE(printed.find(expected), std::string::npos) << expected;
    }

    Program sim;
    ASSERT_TRUE(sim.Start({"--state", state, "--tape", tape}));
    Link link(sim.Path());
    ASSERT_TRUE(link.Ok());
    Bytes r = Good(link, 0xC0, {0});
    EXPECT_EQ(Field(r, 14, 17), 1u);
    EXPECT_EQ(Field(r, 18, 23), 17100u);
    EXPECT_EQ(Field(Good(link, 0xFA), 8, 15), 10000u);
    r = Good(link, 0xEC);
    EXPECT_EQ(r[8], 1);
    EXPECT_EQ(Field(r, 11, 12), 1u);
    EXPECT_EQ(Field(Good(link, 0xE0), 34, 37), 3u);
    // The journal kept what was printed: a copy of the receipt prints it again.
    Good(link, 0x8C, Cat({Le(3, 4), Le(3, 4), {0x02, 0x00}}));
    const std::string after = ReadAll(tape);
    EXPECT_NE(after.find("*** КОПИЯ ***"), std::string::npos);
    EXPECT_EQ(Count(after, "Хлеб белый"), 2u);
    EXPECT_EQ(sim.Kill(SIGTERM), 0);
}

// The program killed and started again on the same state file and link: a powered register
// keeps its open receipt.
TEST(SimProgram, OpenReceiptSurvivesKillAndCanBeCancelled) {
    TempDir dir;
    const std::string state = dir / "register.state", path = dir / "ttyVESK";
    {
        Program sim;
        ASSERT_TRUE(sim.Start({"--state", state, "--link", path}));
        Link link(path);
        Good(link, 0xD9, {0, 0});
        Good(link, 0x8D, {0x04, 0x00, 0x00, 0x01});
        Good(link, 0xD8, Cat({Le(1073, 2), {0x00}, Counted("+7999")}));
        Good(link, 0x80, Position("tea", 3000, 1999));
        sim.Kill(SIGKILL);
    }
    Program sim;
    ASSERT_TRUE(sim.Start({"--state", state, "--link", path}));
    Link link(path);
    EXPECT_EQ(Good(link, 0xF3)[8], 1);
    EXPECT_EQ(Field(Good(link, 0x89, {0, 0}), 8, 15), 5997u);
    Good(link, 0x88);
    EXPECT_EQ(Good(link, 0xF3)[8], 0);
    sim.Kill(SIGTERM);
}

// Kills the program while it is busy saving; the state file must always load, and the cash in it
// must match the acknowledged cash-ins, or one more (the request in flight was done).
TEST(SimProgram, KillNineNeverLeavesATornStateFile) {
    TempDir dir;
    const std::string state = dir / "register.state";
    uint64_t acknowledged = 0;
    for (int round = 0; round < 4; ++round) {
        Program sim;
        ASSERT_TRUE(sim.Start({"--state", state}));
        Link link(sim.Path());
        if (round == 0) Good(link, 0xD9, {0, 0});
        for (int i = 0; i < 10 + 7 * round; ++i) {
            if (Status(link.Exchange(0x50, Le(100, 8))) == 0) ++acknowledged;
        }
        link.Write(Frame(0x50, Le(100, 8)));  // in flight when the kill comes
        usleep(static_cast<useconds_t>(round * 300));
        sim.Kill(SIGKILL);

        vesklink::sim::DeviceState loaded;
        bool exists = false;
        std::string error;
        ASSERT_TRUE(vesklink::sim::LoadStateFile(state, loaded, exists, error)) << error;
        ASSERT_TRUE(exists);
        const auto cash = static_cast<uint64_t>(loaded.cash);
        EXPECT_TRUE(cash == acknowledged * 100 || cash == (acknowledged + 1) * 100) << cash;
        acknowledged = cash / 100;
    }
}

TEST(SimProgram, LinkTtyFaultOptionsAndSignals) {
    TempDir dir;
    std::string help;
    ASSERT_EQ(Program::Run({"--help"}, help), 0);
    for (const char* option : {"--link", "--tty", "--state", "--unregistered", "--tape", "--baud", "--processing",
                               "--fault", "--script", "--control", "--help"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    std::string error;
    EXPECT_EQ(Program::Run({"--bogus"}, error), 2);
    error.clear();
    EXPECT_EQ(Program::Run({"--fault", "0x13 explode"}, error), 2);
    EXPECT_NE(error.find("unknown fault kind"), std::string::npos);

    const std::string link = dir / "ttyVESK";
    {
        Program sim;
        ASSERT_TRUE(sim.Start({"--link", link, "--fault", "0x13 nak once", "--unregistered"}));
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.Path());
        Link line(link);
        ASSERT_TRUE(line.Ok());
        line.Write(Frame(0x13));
        EXPECT_EQ(line.Read(milliseconds(500), false), Bytes{0x15});
        EXPECT_EQ(Good(line, 0xE2)[12], 0);
        EXPECT_EQ(sim.Kill(SIGINT), 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link is gone with the program
    }
    // A given tty: here the slave side of a pair whose master the test holds.
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    Program sim;
    ASSERT_TRUE(sim.Start({"--tty", name}));
    EXPECT_EQ(sim.Path(), name);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    Link line(master);
    EXPECT_EQ(Good(line, 0xE2)[12], 1);
    EXPECT_EQ(sim.Kill(SIGTERM), 0);
    close(slave);
}

TEST(SimProgram, DamagedStateFileIsNeverReplaced) {
    TempDir dir;
    const std::string state = dir / "register.state";
    std::ofstream(state) << "vesklink-sim state 1\nregistered 1\ncash 12";  // cut before its end marker
    std::string output;
    EXPECT_EQ(Program::Run({"--state", state}, output), 1);
    EXPECT_NE(output.find("end marker"), std::string::npos) << output;
    EXPECT_EQ(ReadAll(state), "vesklink-sim state 1\nregistered 1\ncash 12");
    vesklink::sim::Options options;
    options.stateFile = state;
    EXPECT_THROW(vesklink::sim::Simulator{options}, std::runtime_error);
}

}  // namespace
