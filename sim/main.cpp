// vesklink-sim: a virtual cash register on a pseudo-terminal or a given tty.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim.h"

namespace {

const char* kHelp =
    "Usage: vesklink-sim [options]\n"
    "A virtual cash register with a fiscal storage unit that speaks the register's serial\n"
    "protocol. It serves a new pseudo-terminal and prints its path on the first line of\n"
    "standard output; point the driver's port at that path (on Linux: VESKLINK_COM<N>=PATH).\n"
    "A new register is registered, in fiscal mode, with its shift closed. Stop it with\n"
    "Ctrl-C or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --link PATH         also make PATH a symbolic link to the pseudo-terminal (an existing\n"
    "                      symbolic link there is replaced; it is removed again on exit)\n"
    "  --tty PATH          serve this terminal device (serial port, one end of a tty pair)\n"
    "                      instead of a new pseudo-terminal\n"
    "  --state FILE        keep the register's state (fiscal journal, counters, shift,\n"
    "                      registration, open receipt...) in FILE and resume it when FILE\n"
    "                      exists; every change is written atomically (temporary file, rename)\n"
    "  --unregistered      a new register starts with an FN ready for registration; ignored\n"
    "                      when --state resumes an existing file\n"
    "  --tape FILE|-       append the 40-column paper tape (UTF-8) to FILE, or print it on\n"
    "                      standard output with -\n"
    "  --baud N            pace the line at N bits per second, 10 bits a byte: a request is\n"
    "                      acted on when its last byte would have arrived, replies leave byte\n"
    "                      by byte (also sets the line speed of --tty)\n"
    "  --processing MS     device processing time: wait MS milliseconds before every reply\n"
    "  --fault FAULT       script a fault; repeatable. FAULT is\n"
    "                        CMD KIND [ARGS] [once|always|times N] [after N|from N]\n"
    "                      CMD: a command code (0x85, 85h, 133) or all. KIND: silence, nak,\n"
    "                      garbage [HEX], cut N, status CODE, delay MS, reply [HEX],\n"
    "                      lost-reply, paper-out, cover-open, dead lost|executed|restart\n"
    "                      for N|until TIME (the line dies). Example: --fault \"0x85 nak once\",\n"
    "                      --fault \"0x85 dead executed until 2s\"\n"
    "  --script FILE       run the command-language statements of FILE at start (fault,\n"
    "                      clear, reset, set ...; see sim/README.md)\n"
    "  --control DIR       control folder for test programs that cannot link the simulator:\n"
    "                      every request frame is appended to DIR/journal as \"CC HEX\" (command\n"
    "                      code, whole frame in hex); before each request a file DIR/commands,\n"
    "                      if present, is taken, run as statements and deleted, and its outcome\n"
    "                      (\"ok\" or \"error: ...\" lines) is appended to DIR/results\n"
    "  --help              show this text\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "vesklink-sim: %s\nTry vesklink-sim --help.\n", message.c_str());
    return 2;
}

struct Arguments {
    vesklink::sim::Options options;
    std::string link, tty;
    std::vector<std::string> statements;  // from --fault and --script, in their order
};

// Reads the options into args; 0 when the program goes on, else its exit code (the help shown,
// or a usage error reported).
int ReadArguments(int argc, char** argv, Arguments& args) {
    auto& options = args.options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](unsigned& out) {
            std::string text;
            if (!value(text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
                text.size() > 9) {
                return false;
            }
            out = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return -1;
        } else if (arg == "--link") {
            if (!value(args.link)) return Usage("--link needs a path");
        } else if (arg == "--tty") {
            if (!value(args.tty)) return Usage("--tty needs a path");
        } else if (arg == "--state") {
            if (!value(options.stateFile)) return Usage("--state needs a file");
        } else if (arg == "--unregistered") {
            options.unregistered = true;
        } else if (arg == "--tape") {
            if (!value(options.tapeFile)) return Usage("--tape needs a file or -");
        } else if (arg == "--baud") {
            if (!number(options.baud) || options.baud == 0) return Usage("--baud needs a line speed");
        } else if (arg == "--processing") {
            if (!number(options.processingMs)) return Usage("--processing needs milliseconds");
        } else if (arg == "--fault") {
            if (!value(text)) return Usage("--fault needs a fault");
            args.statements.push_back("fault " + text);
        } else if (arg == "--script") {
            if (!value(text)) return Usage("--script needs a file");
            std::string script;
            // A file that opens but cannot be read (a folder) is an empty script.
            if (vesklink::sim::ReadWholeFile(text, script) > 0) return Usage("cannot read " + text);
            args.statements.push_back(script);
        } else if (arg == "--control") {
            if (!value(options.controlDir)) return Usage("--control needs a folder");
        } else {
            return Usage("unknown option " + arg);
        }
    }
    return 0;
}

int CheckArguments(const Arguments& args) {
    if (!args.link.empty() && !args.tty.empty()) {
        return Usage("--link makes a link to a new pseudo-terminal; not with --tty");
    }
    if (!args.options.controlDir.empty()) {
        struct stat st {};
        if (stat(args.options.controlDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return Usage("the control folder " + args.options.controlDir + " does not exist");
        }
    }
    return 0;
}

// Makes link a symbolic link to path; an old symbolic link there (one a killed simulator left)
// is replaced, anything else is not touched.
bool MakeLink(const std::string& link, const std::string& path) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "vesklink-sim: %s exists and is not a symbolic link\n", link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(path.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "vesklink-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link if it still points at our line (another simulator may have taken it over).
void RemoveLink(const std::string& link, const std::string& path) {
    char target[512] = {};
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && path == std::string(target, static_cast<size_t>(n))) unlink(link.c_str());
}

// Runs the simulator until SIGINT or SIGTERM (blocked in every thread, taken by sigwait here).
int Run(const Arguments& args, const sigset_t& signals) {
    vesklink::sim::Simulator sim(args.options);
    for (const auto& s : args.statements) {
        const std::string errors = sim.Execute(s);
        if (!errors.empty()) {
            std::fprintf(stderr, "vesklink-sim: %s", errors.c_str());
            return 2;
        }
    }
    std::string path = args.tty;
    if (path.empty()) {
        path = sim.Start();
    } else {
        sim.StartOnTty(path);
    }
    if (!args.link.empty() && !MakeLink(args.link, path)) return 1;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    sim.Stop();
    if (!args.link.empty()) RemoveLink(args.link, path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const int code = ReadArguments(argc, argv, args)) return code < 0 ? 0 : code;
    if (const int code = CheckArguments(args)) return code;

    // SIGINT and SIGTERM are taken by sigwait; the serving thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(args, signals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesklink-sim: %s\n", e.what());
        return 1;
    }
}
