// vesklink-cli as a user runs it: the built program against the real add-in library, calls that
// need no device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vk_host.h"

namespace {

struct Result {
    int code = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class CliRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The component writes its log under the Documents folder: keep it out of the home folder.
        char pattern[] = "/tmp/vesklink-cli-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        folder_ = made;
        setenv("XDG_DOCUMENTS_DIR", folder_.c_str(), 1);
    }

    static std::string Write(const std::string& name, const std::string& content) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Runs the program with the arguments (shell words, already quoted where needed).
    static Result Cli(const std::string& arguments, const std::string& program = VESKLINK_CLI,
                      const std::string& folder = ".") {
        const std::string out = folder_ + "/stdout", err = folder_ + "/stderr";
        const std::string command = "cd '" + folder + "' && '" + program + "' " + arguments + " >'" + out +
                                    "' 2>'" + err + "' </dev/null";
        const int status = std::system(command.c_str());
        Result result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = Slurp(out);
        result.err = Slurp(err);
        return result;
    }

    static std::string LogText() {
        // The log's file name carries today's date; there is only one in the folder.
        const std::string listing = folder_ + "/listing";
        const std::string command = "cat '" + folder_ + "'/VESKLINK/vesklog-*.log >'" + listing + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) return {};
        return Slurp(listing);
    }

    static std::string folder_;
};

std::string CliRun::folder_;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The description document exactly as the component hands it to a host.
std::string DescriptionFromHarness() {
    vk_library library{};
    char error[512] = {};
    if (!vk_library_load(&library, VESKLINK_LIBRARY, error, sizeof error)) return error;
    vk_memory memory;
    vk_memory_init(&memory);
    vk_connection connection;
    vk_connection_init(&connection);
    void* component = nullptr;
    library.get_class_object(nullptr, &component);
    vk_init(component, &connection);
    vk_set_mem_manager(component, &memory);
    std::u16string name = u"GetDescription";
    const long method = vk_find_method(component, reinterpret_cast<const vk_wchar*>(name.c_str()));
    vk_variant result, param;
    vk_variant_set_empty(&result);
    vk_variant_set_empty(&param);
    vk_call_as_func(component, method, &result, &param, 1);
    char* utf8 = vk_variant_utf8(&param);
    std::string text = utf8 ? utf8 : "";
    free(utf8);
    vk_variant_clear(&memory, &param, false);
    library.destroy_object(&component);
    vk_memory_release(&memory);
    vk_library_unload(&library);
    return text;
}

TEST_F(CliRun, MethodsListsTheLibrarysTable) {
    const Result r = Cli("methods");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 25u) << r.out;
    EXPECT_TRUE(Contains(lines[0], "English") && Contains(lines[0], "Russian") && Contains(lines[0], "Params"));
    const long params[24] = {0, 1, 1, 1, 2, 1, 1, 2, 1, 0, 2, 3, 3, 3, 4, 3, 2, 3, 2, 2, 3, 3, 1, 2};
    for (int i = 0; i < 24; ++i) {
        std::istringstream row(lines[i + 1]);
        long index = -1, count = -1;
        std::string english, russian;
        row >> index >> english >> russian >> count;
        EXPECT_EQ(index, i) << lines[i + 1];
        EXPECT_EQ(count, params[i]) << lines[i + 1];
    }
    EXPECT_TRUE(Contains(lines[15], "ProcessCheck") && Contains(lines[15], "СформироватьЧек")) << lines[15];
    EXPECT_TRUE(Contains(lines[24], "GetLineLength") && Contains(lines[24], "ПолучитьШиринуСтроки"));
    // Russian names are lined up by characters, not bytes: every count starts under "Params".
    const size_t column = lines[0].find("Params");
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t lastToken = line.rfind(' ') + 1;
        size_t chars = 0;
        for (size_t b = 0; b < lastToken; ++b)
            if ((static_cast<unsigned char>(line[b]) & 0xC0) != 0x80) ++chars;
        EXPECT_EQ(chars, column) << line;
    }
}

TEST_F(CliRun, ScriptOfDeviceFreeCallsOnOneComponent) {
    Write("speed.txt", "19200\n");
    const std::string script = Write("day.txt",
                                     "# settings and description, no device needed\n"
                                     "GetInterfaceRevision\n"
                                     "ПолучитьОписание out\n"
                                     "SetParameter s:Port s:7\n"
                                     "УстановитьПараметр s:Скорость @speed.txt\n"
                                     "\n"
                                     "GetParameters out\n"
                                     "GetLineLength   # the line length comes back in parameter 1\n"
                                     "DoAdditionalAction\n");
    const Result r = Cli("--port 5 --speed 9600 run '" + script + "'");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Contains(r.out, "> GetInterfaceRevision\nresult: 3003 (uint)\n\n")) << r.out;
    // The description: result left alone by the component, the document exactly as it came.
    const std::string description = DescriptionFromHarness();
    ASSERT_EQ(description.rfind("<?xml", 0), 0u) << description;
    EXPECT_TRUE(Contains(r.out, "> ПолучитьОписание out\nresult: empty\nparam 0:\n" + description + "\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> SetParameter s:Port s:7\nresult: true\n\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> УстановитьПараметр s:Скорость @speed.txt\nresult: true\n\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> GetParameters out\nresult: true\nparam 0:\n<?xml")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> GetLineLength\nresult: true\nparam 1: 40 (uint)\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> DoAdditionalAction\nresult: true\n")) << r.out;
    // --port and --speed went through the properties before the first call.
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "Set Portnumber 5")) << log;
    EXPECT_TRUE(Contains(log, "Set PortSpeed 9600")) << log;
}

TEST_F(CliRun, FailedCallShowsTheErrorAndExitsWithOne) {
    // SetParameter takes strings only: an integer value is refused without any device.
    Result r = Cli("call SetParameter s:Speed i:19200");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "> SetParameter s:Speed i:19200\nresult: false\nerror: ")) << r.out;
    r = Cli("call НапечататьТекстовыйДокумент out i:1");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "result: false\n")) << r.out;
    // A successful single call exits with 0; an explicit out-parameter is shown even when empty.
    r = Cli("--lib '" VESKLINK_LIBRARY "' call GetLineLength out out");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "> GetLineLength out out\nresult: true\nparam 0: empty\nparam 1: 40 (uint)\n");
}

TEST_F(CliRun, FailedCallShowsWhatItWroteToTheLog) {
    // The user's ports.conf maps COM5 to a device that is not there, and has a malformed line.
    const std::string config = folder_ + "/config";
    ASSERT_EQ(std::system(("mkdir -p '" + config + "/vesklink'").c_str()), 0);
    const std::string ports = Write("config/vesklink/ports.conf", "COM5 = " + folder_ + "/ttyACM7\nCOM6 /dev/ttyS5\n");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    unsetenv("VESKLINK_COM5");
    const Result r = Cli("--port 5 call Open out");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    std::vector<std::string> logged;
    for (const std::string& line : Lines(r.out))
        if (line.rfind("log: [", 0) == 0) logged.push_back(line.substr(line.find(']') + 2));
    // Only the lines of this call: setting the port before it is not among them.
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "[Warning] " + ports + " line 2 skipped: \"COM6 /dev/ttyS5\" has no '=' (lines read COM3 = /dev/ttyACM0)",
                          "[Error] Cannot open COM5 (" + folder_ + "/ttyACM7): no such device",
                          "[Error] Open error"}))
        << r.out;
    // The driver recorded no text of its own: the log is where the reason is.
    EXPECT_TRUE(Contains(r.out, "result: false\nparam 0: empty\nerror: (no text) (code 0)\nlog: [")) << r.out;
}

TEST_F(CliRun, ScriptStopsAtTheFirstFailureUnlessKeepGoing) {
    const std::string script = Write("failing.txt",
                                     "GetLineLength\n"
                                     "SetParameter s:Speed i:5\n"
                                     "GetInterfaceRevision\n");
    Result r = Cli("run '" + script + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.out, "> GetLineLength\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> SetParameter s:Speed i:5\nresult: false\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "> GetInterfaceRevision")) << r.out;
    EXPECT_TRUE(Contains(r.err, "failing.txt:2")) << r.err;

    r = Cli("run --keep-going '" + script + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.out, "> GetInterfaceRevision\nresult: 3003 (uint)\n")) << r.out;
    EXPECT_TRUE(Contains(r.err, "1 of 3")) << r.err;
}

TEST_F(CliRun, BadInputIsAUsageErrorAndCallsNothing) {
    // A script is checked whole before the first call: nothing runs when a later line is bad.
    const std::string script = Write("typo.txt",
                                     "GetInterfaceRevision\n"
                                     "processcheck out\n"
                                     "GetLineLength out out out\n"
                                     "SetParameter s:Port 3\n");
    Result r = Cli("run '" + script + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "typo.txt:2: unknown method 'processcheck'")) << r.err;
    EXPECT_TRUE(Contains(r.err, "did you mean ProcessCheck")) << r.err;
    EXPECT_TRUE(Contains(r.err, "typo.txt:3: GetLineLength takes 2 parameter(s), 3 given")) << r.err;
    EXPECT_TRUE(Contains(r.err, "typo.txt:4: argument '3'")) << r.err;

    struct Case {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"call NoSuchMethod", "unknown method 'NoSuchMethod'"},
        {"call GetLineLength d:1,5", "argument 'd:1,5'"},
        {"call SetParameter s:Port @/nonexistent/port.txt", "/nonexistent/port.txt"},
        {"call", "a method name is missing"},
        {"--lib /nonexistent/vesklink_64.so methods", "cannot load the add-in"},
        {"--port 0 methods", "--port"},
        {"fly", "unknown command 'fly'"},
        {"", "a command is missing"},
        {"run /nonexistent/day.txt", "cannot open /nonexistent/day.txt"},
        {"run /tmp", "/tmp is a folder"},
        {"methods extra", "takes no arguments"},
    };
    for (const Case& c : cases) {
        r = Cli(c.arguments);
        EXPECT_EQ(r.code, 2) << c.arguments;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.arguments << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.arguments;
    }
    // A file that is not an add-in library.
    r = Cli("--lib '" + script + "' methods");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, "cannot load the add-in")) << r.err;
}

TEST_F(CliRun, ProgramCopiedElsewhereFindsTheLibraryOfItsBuild) {
    const std::string copy = folder_ + "/vesklink-cli";
    ASSERT_EQ(std::system(("cp '" VESKLINK_CLI "' '" + copy + "'").c_str()), 0);
    const Result r = Cli("call GetInterfaceRevision", copy);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "result: 3003 (uint)")) << r.out;
    std::remove(copy.c_str());
}

TEST_F(CliRun, BareLibraryNameMeansTheCurrentFolder) {
    const std::string library = VESKLINK_LIBRARY;
    const size_t slash = library.rfind('/');
    const Result r = Cli("--lib '" + library.substr(slash + 1) + "' call GetInterfaceRevision", VESKLINK_CLI,
                         library.substr(0, slash));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "result: 3003 (uint)")) << r.out;
}

TEST_F(CliRun, HelpNamesEveryCommand) {
    const Result r = Cli("--help");
    EXPECT_EQ(r.code, 0);
    for (const char* word : {"call METHOD", "run [--keep-going] FILE", "methods", "s:TEXT", "@FILE", "exit codes"})
        EXPECT_TRUE(Contains(r.out, word)) << word;
}

// A script of device calls on one component, against the simulator program on a pseudo-terminal.
class CliWithSimulator : public CliRun {
protected:
    void SetUp() override {
        link_ = folder_ + "/com4";
        unlink(link_.c_str());
        tape_ = folder_ + "/tape";
        state_ = folder_ + "/register";
        unlink(state_.c_str());  // a new register for every test
        control_ = folder_ + "/control";
        ASSERT_EQ(std::system(("rm -rf '" + control_ + "' && mkdir -p '" + control_ + "'").c_str()), 0);
        pid_ = StartSimulator(control_);
        ASSERT_GT(pid_, 0) << "the simulator did not start";
        setenv("VESKLINK_COM4", link_.c_str(), 1);
    }
    void TearDown() override {
        StopSimulator(pid_);
        unsetenv("VESKLINK_COM4");
    }
    // Starts a simulator that keeps its register in state_ and its journal in `control`, and
    // waits until link_ points at its pseudo-terminal. Its process id, or -1.
    pid_t StartSimulator(const std::string& control) {
        const std::string before = LinkTarget();
        const pid_t pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stdout);
            execl(VESKLINK_SIM, VESKLINK_SIM, "--link", link_.c_str(), "--tape", tape_.c_str(), "--state",
                  state_.c_str(), "--control", control.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && LinkTarget() == before; ++i) usleep(25000);
        return pid > 0 && LinkTarget() != before ? pid : -1;
    }
    static void StopSimulator(pid_t pid) {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    std::string LinkTarget() const {
        char target[512];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target);
        return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
    }
    std::string link_, tape_, state_, control_;
    pid_t pid_ = -1;
};

TEST_F(CliWithSimulator, ADayOutsideReceiptsOnOneComponent) {
    const std::string script = Write("sim-day.txt",
                                     "Open\n"
                                     "OpenShift s: s:'<InputParameters><Parameters CashierName=\"Орлова\" /></InputParameters>' out\n"
                                     "CashInOutcome s: s: i:250\n"
                                     "PrintXReport s:\n"
                                     "GetCurrentStatus s: s: out\n"
                                     "CloseShift s: s: out\n"
                                     "Close\n");
    const Result r = Cli("--port 4 run '" + script + "'");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "> Open\nresult: true\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ShiftNumber=\"1\" ShiftState=\"2\" />")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> CashInOutcome s: s: i:250\nresult: true\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "<CountersOperationType4 ")) << r.out;
    const std::string tape = Slurp(tape_);
    EXPECT_TRUE(Contains(tape, "Орлова")) << tape;
    EXPECT_TRUE(Contains(tape, "X-ОТЧЕТ")) << tape;
}

TEST_F(CliWithSimulator, AFailedDeviceCallShowsTheDevicesError) {
    // No shift is open: the register refuses the cash-in and says why.
    const Result r = Cli("--port 4 run '" + Write("refused.txt", "Open\nCashInOutcome s: s: i:5\n") + "'");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "> CashInOutcome s: s: i:5\nresult: false\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "error: ")) << r.out;
    EXPECT_FALSE(Contains(r.out, "error: (no text)")) << r.out;
}

TEST_F(CliWithSimulator, ARegisterRestartedUnderTheSameLinkIsUsedAgainAtTheNextCall) {
    // The register restarts while the driver waits for its reply to the X report: the simulator
    // comes up again on a new pseudo-terminal behind the same --link, with the register it had,
    // and then the old one goes.
    std::ofstream(control_ + "/commands.next") << "fault 0x40 silence once\n";
    ASSERT_EQ(std::rename((control_ + "/commands.next").c_str(), (control_ + "/commands").c_str()), 0);
    const std::string script = Write("restart.txt",
                                     "Open\n"
                                     "OpenShift s: s:'<InputParameters><Parameters CashierName=\"Орлова\" /></InputParameters>' out\n"
                                     "PrintXReport s:\n"
                                     "GetCurrentStatus s: s: out\n"
                                     "Open\n"
                                     "CloseShift s: s: out\n");
    Result r;
    const auto start = std::chrono::steady_clock::now();
    std::thread cli([&] { r = Cli("--port 4 run --keep-going '" + script + "'"); });
    bool waiting = false;
    for (int i = 0; i < 400 && !waiting; ++i) {
        const std::string journal = Slurp(control_ + "/journal");
        waiting = journal.rfind("40 ", 0) == 0 || Contains(journal, "\n40 ");
        if (!waiting) usleep(25000);
    }
    const pid_t first = pid_;
    pid_ = StartSimulator(folder_);  // its journal goes beside the first one's folder
    StopSimulator(first);
    cli.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(waiting) << r.out << r.err;
    ASSERT_GT(pid_, 0);

    EXPECT_EQ(r.code, 1) << r.out << r.err;
    const std::string port = "COM4 (" + link_ + ")";
    // The X report under way fails as soon as the register goes, not after the 10-second limit.
    EXPECT_TRUE(Contains(r.out, "> PrintXReport s:\nresult: false\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "[Warning] " + port + ": device lost (")) << r.out;
    EXPECT_LT(seconds, 8.0);
    // The next call reaches the register that came back, shift still open; Open and the rest work.
    EXPECT_TRUE(Contains(r.out, "> GetCurrentStatus s: s: out\nresult: true\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ShiftState=\"2\"")) << r.out;
    EXPECT_TRUE(Contains(r.out, "> Open\nresult: true\n\n> CloseShift s: s: out\nresult: true\n")) << r.out;
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "[Warning] " + port + ": reopened")) << log;
}

TEST_F(CliRun, DemoRunsTheWholeDayAndStopsItsSimulator) {
    const Result r = Cli("demo");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    for (const char* step : {"> Open\nresult: true", "> OpenShift ", "> ProcessCheck ", "> PrintTextDocument ",
                             "> CashInOutcome ", "> PrintXReport ", "> CloseShift ", "> Close\nresult: true"})
        EXPECT_TRUE(Contains(r.out, step)) << step;
    EXPECT_FALSE(Contains(r.out, "result: false")) << r.out;
    // The receipt document, and the receipt on the tape with its total, payments and change.
    EXPECT_TRUE(Contains(r.out, "<DocumentOutputParameters>")) << r.out;
    const size_t tape = r.out.find("paper tape");
    ASSERT_NE(tape, std::string::npos);
    for (const char* printed : {"КАССОВЫЙ ЧЕК", "Хлеб пшеничный", "=679.90", "=20.10", "ОТЧЕТ О ЗАКРЫТИИ СМЕНЫ"})
        EXPECT_NE(r.out.find(printed, tape), std::string::npos) << printed;
    // The simulator it started is not left running and its folder is gone (other demos may run on
    // the machine at the same time: only this one's folder counts).
    const std::string named = "Simulated register on ", link = "/line ";
    const size_t from = r.out.find(named), to = r.out.find(link, from);
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << r.out;
    const std::string folder = r.out.substr(from + named.size(), to - from - named.size());
    EXPECT_NE(std::system(("pgrep -f 'vesklink-si[m] --link " + folder + "/' >/dev/null").c_str()), 0);
    EXPECT_NE(std::system(("test -e '" + folder + "'").c_str()), 0) << folder;
}

}  // namespace
