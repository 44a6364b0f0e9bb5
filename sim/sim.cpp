#include "sim.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "sim_cp866.h"
#include "sim_device.h"
#include "sim_frame.h"
#include "sim_script.h"

namespace vesklink::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A partial request whose bytes stop for this long is abandoned.
constexpr auto kInterByteLimit = std::chrono::milliseconds(1000);
// The in-memory tape keeps at most this much; the oldest half goes when it is full.
constexpr size_t kTapeLimit = 4u << 20;
// The in-memory request journal keeps at most this many frames; the oldest half goes when it is
// full (the control folder's journal file keeps everything).
constexpr size_t kJournalLimit = 100000;

std::string HexFrame(const std::vector<uint8_t>& frame) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : frame) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

void AppendToFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

speed_t SpeedConstant(unsigned baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: return B0;
    }
}

// Raw 8N1, no flow control, no echo: binary bytes pass unchanged.
void MakeRaw(int fd, unsigned baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (const speed_t s = SpeedConstant(baud); s != B0) cfsetspeed(&t, s);
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

struct Simulator::Impl {
    Options options;
    mutable std::mutex lock;
    mutable std::condition_variable handled;
    Device device{DeviceState{}};
    FaultTable faults;
    LinkSettings settings;
    std::vector<JournalEntry> journal;
    size_t requestCount = 0;
    std::string tape;
    FILE* tapeOut = nullptr;
    bool saveErrorReported = false;

    // The line.
    std::thread thread;
    std::atomic<bool> stopping{false};
    int lineFd = -1;
    int slaveFd = -1;  // our own hold on a pty's slave, so the pty lives while no client has it open
    int wakeFd[2] = {-1, -1};
    std::string path;

    explicit Impl(Options o) : options(std::move(o)) {
        if (options.clock) device.SetClock(options.clock);
        DeviceState state = NewDeviceState(!options.unregistered, device.Now());
        if (!options.stateFile.empty()) {
            bool exists = false;
            std::string error;
            if (!LoadStateFile(options.stateFile, state, exists, error)) throw std::runtime_error(error);
            if (!exists) {
                state = NewDeviceState(!options.unregistered, device.Now());
                if (!SaveStateFile(options.stateFile, state, error)) throw std::runtime_error(error);
            }
        }
        device.State() = std::move(state);
        settings.baud = options.baud;
        settings.processingMs = options.processingMs;
        if (options.tapeFile == "-") {
            tapeOut = stdout;
        } else if (!options.tapeFile.empty()) {
            tapeOut = std::fopen(options.tapeFile.c_str(), "ae");
            if (!tapeOut) throw std::runtime_error("cannot open the tape file " + options.tapeFile);
        }
        device.SetPrinter([this](const std::vector<std::string>& lines) { PrintLines(lines); });
        if (!options.controlDir.empty()) {
            // A commands file left from an earlier run would act on the next request; results of
            // this run start afresh.
            unlink((options.controlDir + "/commands.taken").c_str());
        }
    }

    ~Impl() {
        if (tapeOut && tapeOut != stdout) std::fclose(tapeOut);
    }

    void PrintLines(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& l : lines) text += Utf8FromCp866(l) + "\n";
        tape += text;
        if (tape.size() > kTapeLimit) tape.erase(0, tape.size() / 2);
        if (tapeOut) {
            std::fwrite(text.data(), 1, text.size(), tapeOut);
            std::fflush(tapeOut);
        }
    }

    void Save() {
        if (options.stateFile.empty()) return;
        std::string error;
        if (!SaveStateFile(options.stateFile, device.State(), error)) {
            if (!saveErrorReported) std::fprintf(stderr, "vesklink-sim: %s\n", error.c_str());
            saveErrorReported = true;
        } else {
            saveErrorReported = false;
        }
    }

    std::string RunScript(std::string_view script) {
        const std::string errors = ExecuteScript(script, ScriptTarget{device, faults, settings});
        Save();
        return errors;
    }

    // The control folder's commands file, taken over by renaming so a writer never sees it half
    // read; the outcome goes to DIR/results.
    void RunControlCommands() {
        if (options.controlDir.empty()) return;
        const std::string commands = options.controlDir + "/commands";
        const std::string taken = options.controlDir + "/commands.taken";
        if (rename(commands.c_str(), taken.c_str()) != 0) return;
        std::string text;
        if (FILE* f = std::fopen(taken.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
            std::fclose(f);
        }
        unlink(taken.c_str());
        const std::string errors = RunScript(text);
        std::string result;
        if (errors.empty()) {
            result = "ok\n";
        } else {
            size_t pos = 0;
            while (pos < errors.size()) {
                const size_t end = errors.find('\n', pos);
                result += "error: " + errors.substr(pos, end - pos) + "\n";
                pos = end + 1;
            }
        }
        AppendToFile(options.controlDir + "/results", result);
    }

    struct Response {
        std::vector<uint8_t> bytes;
        uint32_t delayMs = 0;
    };

    // One request frame: journal, faults, the register. Called with the lock held.
    Response Respond(const std::vector<uint8_t>& frame) {
        RunControlCommands();
        Request req = ParseRequest(frame);
        JournalEntry entry;
        entry.frame = frame;
        entry.command = req.wellFormed ? req.command : 0;
        entry.checksumOk = req.checksumOk;
        journal.push_back(entry);
        if (journal.size() > kJournalLimit) journal.erase(journal.begin(), journal.begin() + kJournalLimit / 2);
        if (!options.controlDir.empty()) {
            char cmd[8];
            std::snprintf(cmd, sizeof cmd, "%02X", entry.command);
            AppendToFile(options.controlDir + "/journal",
                         std::string(req.wellFormed ? cmd : "--") + " " + HexFrame(frame) + "\n");
        }
        Response r;
        if (!req.wellFormed || !req.checksumOk) {
            r.bytes = {kNak};
            return r;
        }
        const FaultPlan plan = faults.Take(req.command);
        bool changed = false;
        if (plan.silence) {
            return r;
        } else if (plan.nak) {
            r.bytes = {kNak};
            return r;
        } else if (plan.status) {
            device.RecordError(*plan.status);
            r.bytes = BuildReply(req.command, *plan.status, {});
            changed = true;
        } else if (plan.reply) {
            r.bytes = BuildReply(req.command, 0, *plan.reply);
        } else if (plan.paperOut || plan.coverOpen) {
            const uint16_t code = plan.coverOpen ? kCoverOpen : kPaperOut;
            (plan.coverOpen ? device.State().coverOpen : device.State().paperOut) = true;
            device.RecordError(code);
            r.bytes = BuildReply(req.command, code, {});
            changed = true;
        } else {
            const Reply reply = device.Handle(req.command, req.accessCode, req.payload);
            changed = reply.changed;
            if (!plan.lostReply) r.bytes = BuildReply(req.command, reply.status, reply.data);
        }
        if (changed) Save();
        if (!r.bytes.empty()) {
            if (plan.cut && *plan.cut < r.bytes.size()) r.bytes.resize(*plan.cut);
            r.bytes.insert(r.bytes.begin(), plan.garbage.begin(), plan.garbage.end());
        }
        r.delayMs = settings.processingMs + plan.delayMs;
        return r;
    }

    // Waits up to the given time unless the simulator is stopping; false when it is. The wait
    // sleeps to the microsecond, so pacing a reply byte by byte does not spin a processor.
    bool Pause(std::chrono::microseconds duration) {
        const auto until = SteadyClock::now() + duration;
        while (!stopping) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - SteadyClock::now());
            if (left.count() <= 0) return true;
            const long long micros = std::min<long long>(left.count(), 100'000);
            const timespec wait{static_cast<time_t>(micros / 1'000'000), static_cast<long>(micros % 1'000'000) * 1000};
            pollfd p{wakeFd[0], POLLIN, 0};
            ppoll(&p, 1, &wait, nullptr);
        }
        return false;
    }

    // A paced line carries a request at its speed too: the register can act on it only once its
    // last byte would have arrived, counted from its first. A pseudo-terminal delivers it at once.
    // Returns that moment (now on an unpaced line), or nothing when the simulator is stopping.
    std::optional<SteadyClock::time_point> AwaitRequestOnLine(SteadyClock::time_point firstByte, size_t size,
                                                              unsigned baud) {
        if (baud == 0) return SteadyClock::now();
        const auto arrived = firstByte + std::chrono::microseconds(10'000'000ull * size / baud);
        if (!Pause(std::chrono::duration_cast<std::chrono::microseconds>(arrived - SteadyClock::now()))) return {};
        return arrived;
    }

    bool WriteAll(const uint8_t* data, size_t size) {
        size_t done = 0;
        auto deadline = SteadyClock::now() + std::chrono::seconds(5);
        while (done < size && !stopping) {
            const ssize_t n = write(lineFd, data + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (SteadyClock::now() > deadline) return false;  // nobody drains the line
            pollfd p{lineFd, POLLOUT, 0};
            poll(&p, 1, 50);
        }
        return done == size;
    }

    void Send(const std::vector<uint8_t>& bytes, unsigned baud) {
        if (baud == 0) {
            WriteAll(bytes.data(), bytes.size());
            return;
        }
        // Ten bits a byte (start, eight data, stop); each byte leaves when its time has come.
        const auto byteTime = std::chrono::microseconds(10'000'000ull / baud);
        const auto start = SteadyClock::now();
        size_t sent = 0;
        while (sent < bytes.size() && !stopping) {
            const auto elapsed = SteadyClock::now() - start;
            size_t due = static_cast<size_t>(elapsed / byteTime) + 1;
            if (due > bytes.size()) due = bytes.size();
            if (due > sent) {
                if (!WriteAll(bytes.data() + sent, due - sent)) return;
                sent = due;
                continue;
            }
            const auto next = start + byteTime * static_cast<long long>(sent);
            if (!Pause(std::chrono::duration_cast<std::chrono::microseconds>(next - SteadyClock::now()))) return;
        }
    }

    void Serve() {
        // A paced line sleeps to the microsecond many times a reply; the default timer slack
        // would add up to 50 us to each of those sleeps.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        FrameAssembler assembler;
        auto lastByte = SteadyClock::now();
        auto frameStart = lastByte;
        uint8_t buf[4096];
        while (!stopping) {
            pollfd fds[2] = {{lineFd, POLLIN, 0}, {wakeFd[0], POLLIN, 0}};
            const int ready = poll(fds, 2, 200);
            if (stopping) break;
            if (assembler.InFrame() && SteadyClock::now() - lastByte > kInterByteLimit) assembler.Reset();
            if (ready <= 0 || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(lineFd, buf, sizeof buf);
            if (n <= 0) {
                // A tty whose other side went away: wait for it to come back.
                Pause(std::chrono::milliseconds(50));
                continue;
            }
            for (ssize_t i = 0; i < n && !stopping; ++i) {
                const auto now = SteadyClock::now();
                if (assembler.InFrame() && now - lastByte > kInterByteLimit) assembler.Reset();
                lastByte = now;
                if (!assembler.InFrame()) frameStart = now;
                auto frame = assembler.Push(buf[i]);
                if (!frame) continue;
                unsigned baud = 0;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    baud = settings.baud;
                }
                const auto arrived = AwaitRequestOnLine(frameStart, frame->size(), baud);
                if (!arrived) break;
                Response r;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    r = Respond(*frame);
                }
                // The processing time counts from the request's arrival: the simulator's own
                // bookkeeping (journal, state file) happens within it, as the register's would.
                const auto due = *arrived + std::chrono::milliseconds(r.delayMs);
                if (!Pause(std::chrono::duration_cast<std::chrono::microseconds>(due - SteadyClock::now()))) break;
                if (!r.bytes.empty()) Send(r.bytes, baud);
                {
                    std::lock_guard<std::mutex> guard(lock);
                    ++requestCount;
                }
                handled.notify_all();
                lastByte = SteadyClock::now();
            }
        }
    }

    void Launch() {
        if (pipe2(wakeFd, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
        stopping = false;
        thread = std::thread([this] { Serve(); });
    }

    void CloseAll() {
        for (int* fd : {&lineFd, &slaveFd, &wakeFd[0], &wakeFd[1]}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
        path.clear();
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { Stop(); }

std::string Simulator::Start() {
    if (Running()) throw std::runtime_error("the simulator is already running");
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        throw std::runtime_error("cannot prepare the pseudo-terminal");
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        throw std::runtime_error(std::string("cannot open ") + name);
    }
    MakeRaw(slave, 0);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    impl_->lineFd = master;
    impl_->slaveFd = slave;
    impl_->path = name;
    try {
        impl_->Launch();
    } catch (...) {
        impl_->CloseAll();
        throw;
    }
    return impl_->path;
}

void Simulator::StartOnTty(const std::string& path) {
    if (Running()) throw std::runtime_error("the simulator is already running");
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    MakeRaw(fd, impl_->settings.baud);
    impl_->lineFd = fd;
    impl_->path = path;
    try {
        impl_->Launch();
    } catch (...) {
        impl_->CloseAll();
        throw;
    }
}

void Simulator::Stop() {
    if (!impl_->thread.joinable()) return;
    impl_->stopping = true;
    const char wake = 1;
    if (write(impl_->wakeFd[1], &wake, 1) < 0) {
        // The flag alone ends the loop within one poll period.
    }
    impl_->thread.join();
    impl_->CloseAll();
}

bool Simulator::Running() const { return impl_->thread.joinable(); }

std::string Simulator::Path() const { return impl_->path; }

std::string Simulator::Execute(std::string_view script) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->RunScript(script);
}

DeviceState Simulator::State() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->device.State();
}

void Simulator::Modify(const std::function<void(DeviceState&)>& change) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    change(impl_->device.State());
    impl_->Save();
}

std::vector<JournalEntry> Simulator::Journal() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->journal;
}

void Simulator::ClearJournal() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->journal.clear();
}

size_t Simulator::RequestCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->requestCount;
}

bool Simulator::WaitForRequests(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(impl_->lock);
    return impl_->handled.wait_for(guard, limit, [&] { return impl_->requestCount >= count; });
}

std::string Simulator::Tape() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->tape;
}

void Simulator::ClearTape() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->tape.clear();
}

std::vector<uint8_t> Simulator::Exchange(const std::vector<uint8_t>& frame) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto r = impl_->Respond(frame);
    ++impl_->requestCount;
    return r.bytes;
}

}  // namespace vesklink::sim
