// vesklink-cli demo: a whole day at a till against the simulated register. Starts vesklink-sim on
// a pseudo-terminal, points the driver at it, runs the day step by step with each result and
// document, prints the paper tape and stops the simulator again.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "commands.h"
#include "platform.h"

namespace vkcli {

namespace {

constexpr int kDemoPort = 9;

// The day: one call per line, in the syntax of `run`.
constexpr const char* kDay = R"(# Connect and open the shift with the cashier on duty.
Open
OpenShift s: s:'<InputParameters><Parameters CashierName="Смирнова А.А." CashierINN="" /></InputParameters>' out
# A sale: three goods, paid partly in cash and partly by card; the change comes from the cash.
ProcessCheck s: b:false s:'<CheckPackage><Parameters CashierName="Смирнова А.А." OperationType="1" TaxationSystem="0" /><Positions><FiscalString Name="Хлеб пшеничный" Quantity="2" PriceWithDiscount="45.50" AmountWithDiscount="91.00" DiscountAmount="0" VATRate="10" PaymentMethod="4" CalculationSubject="1" /><FiscalString Name="Молоко 3,2%" Quantity="1" PriceWithDiscount="89.90" AmountWithDiscount="89.90" DiscountAmount="0" VATRate="10" PaymentMethod="4" CalculationSubject="1" /><FiscalString Name="Кофе в зёрнах" Quantity="1" PriceWithDiscount="499.00" AmountWithDiscount="499.00" DiscountAmount="50.00" VATRate="20" PaymentMethod="4" CalculationSubject="1" /><TextString Text="Спасибо за покупку!" /></Positions><Payments Cash="300.00" ElectronicPayment="400.00" /></CheckPackage>' out
# A text document with a QR code.
PrintTextDocument s: s:'<Document><Positions><TextString Text="Акция недели: кофе -10%" /><Barcode Type="QR" ValueBase64="aHR0cHM6Ly9leGFtcGxlLm9yZy9ha2NpeWE=" /></Positions></Document>'
# Change money put into the drawer, an X report and the status of the day.
CashInOutcome s: s: d:1000
PrintXReport s:
GetCurrentStatus s: s: out
# Close the shift and disconnect.
CloseShift s: s: out
Close
)";

// The whole file, or empty text when it cannot be read.
std::string ReadWhole(const std::string& path) {
    std::string content, error;
    return ReadFileBytes(path, content, error) ? content : std::string();
}

// The simulator as a child process, stopped and its folder removed when this goes away.
class SimulatorProcess {
public:
    ~SimulatorProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (folder_.empty()) return;
        for (const char* file : {"tape", "sim.out", "line"}) unlink(Path(file).c_str());
        rmdir(folder_.c_str());
    }

    // Starts the program in a folder of its own, its line at Path("line"); why it did not come
    // up, or empty text when it did.
    std::string Start(const std::string& program) {
        char pattern[] = "/tmp/vesklink-demo-XXXXXX";
        if (!mkdtemp(pattern)) return "cannot make a folder for the simulator";
        folder_ = pattern;
        const std::string link = Path("line"), tape = Path("tape"), log = Path("sim.out");
        pid_ = fork();
        if (pid_ < 0) return "cannot start the simulator";
        if (pid_ == 0) {
            if (FILE* out = std::fopen(log.c_str(), "w")) {
                dup2(fileno(out), STDOUT_FILENO);
                dup2(fileno(out), STDERR_FILENO);
            }
            execl(program.c_str(), program.c_str(), "--link", link.c_str(), "--tape", tape.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && access(link.c_str(), F_OK) != 0; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return "the simulator stopped at once: " + ReadWhole(log);
            }
            usleep(25000);
        }
        return access(link.c_str(), F_OK) == 0 ? "" : "the simulator did not open its line";
    }

    std::string Path(const char* file) const { return folder_ + "/" + file; }

private:
    pid_t pid_ = -1;
    std::string folder_;
};

}  // namespace

int DemoCommand(const Context& context) {
    if (!context.options.arguments.empty()) return Complain(context, "demo: takes no arguments");
    const std::string program = ProgramDirectory() + "/vesklink-sim";
    if (access(program.c_str(), X_OK) != 0) return Complain(context, "demo: no simulator at " + program);
    SimulatorProcess simulator;
    const std::string error = simulator.Start(program);
    if (!error.empty()) return Complain(context, "demo: " + error, ExitCallFailed);
    // The driver reaches COM<N> through VESKLINK_COM<N> on Linux.
    setenv(("VESKLINK_COM" + std::to_string(kDemoPort)).c_str(), simulator.Path("line").c_str(), 1);
    context.out << "Simulated register on " << simulator.Path("line") << " (COM" << kDemoPort << ")\n\n";

    Options options = context.options;
    options.port = kDemoPort;
    const Context demo{options, context.out, context.err};
    Script script = ParseScript(kDay, "demo");
    std::optional<ScriptRun> run;
    const int exitCode = WithSession(demo, [&](Session& session) {
        run = RunScript(demo, session, script, "demo", false, "demo: ");
        return !run ? ExitUsage : run->failed == 0 ? ExitOk : ExitCallFailed;
    });
    if (!run) return exitCode;
    context.out << "\n======== paper tape ========\n"
                << ReadWhole(simulator.Path("tape")) << "============================\n";
    if (run->failed > 0)
        Complain(context, "demo: stopped after " + std::to_string(run->ran) + " of " + std::to_string(run->calls) +
                              " steps");
    return exitCode;
}

}  // namespace vkcli
