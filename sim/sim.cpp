#include "sim.h"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

#include "sim_cp866.h"
#include "sim_device.h"
#include "sim_frame.h"
#include "sim_parse.h"
#include "sim_script.h"

namespace vesklink::sim {
namespace {

// The in-memory tape keeps at most this much; the oldest half goes when it is full.
constexpr size_t kTapeLimit = 4u << 20;
// The in-memory request journal keeps at most this many frames; the oldest half goes when it is
// full (the control folder's journal file keeps everything).
constexpr size_t kJournalLimit = 100000;

void AppendToFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, text);
    close(fd);
}

// Runs what under the simulator's lock.
template <typename Impl, typename What>
auto Locked(Impl& impl, What what) {
    std::lock_guard<std::mutex> guard(impl.lock);
    return what();
}

}  // namespace

struct Simulator::Impl {
    Options options;
    mutable std::mutex lock;
    mutable std::condition_variable handled;
    Device device{DeviceState{}};
    FaultTable faults;
    LinkSettings settings{options.baud, options.processingMs};
    std::vector<JournalEntry> journal;
    size_t requestCount = 0;
    std::string tape;
    FILE* tapeOut = nullptr;
    bool saveErrorReported = false;

    Line line;  // declared last: its thread stops before the rest goes

    explicit Impl(Options o) : options(std::move(o)) {
        if (options.clock) device.SetClock(options.clock);
        DeviceState state = NewDeviceState(!options.unregistered, device.Now());
        if (!options.stateFile.empty()) {
            bool exists = false;
            std::string error;
            // A missing file leaves the new register's state as it is: it is saved at once.
            if (!LoadStateFile(options.stateFile, state, exists, error)) throw std::runtime_error(error);
            if (!exists && !SaveStateFile(options.stateFile, state, error)) throw std::runtime_error(error);
        }
        device.State() = std::move(state);
        if (options.tapeFile == "-") {
            tapeOut = stdout;
        } else if (!options.tapeFile.empty()) {
            tapeOut = std::fopen(options.tapeFile.c_str(), "ae");
            if (!tapeOut) throw std::runtime_error("cannot open the tape file " + options.tapeFile);
        }
        device.SetPrinter([this](const std::vector<std::string>& lines) { PrintLines(lines); });
        if (!options.controlDir.empty()) {
            // A commands file an earlier run had taken but not finished is dropped: it never runs twice.
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
        const bool saved = SaveStateFile(options.stateFile, device.State(), error);
        if (!saved && !saveErrorReported) std::fprintf(stderr, "vesklink-sim: %s\n", error.c_str());
        saveErrorReported = !saved;
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
        ReadWholeFile(taken, text);
        unlink(taken.c_str());
        const std::string errors = RunScript(text);
        std::string result = errors.empty() ? "ok\n" : "";
        for (const auto error : SplitWords(errors, "\n")) result += "error: " + std::string(error) + "\n";
        AppendToFile(options.controlDir + "/results", result);
    }

    void Record(const Request& req, const std::vector<uint8_t>& frame) {
        journal.push_back({frame, req.command, req.checksumOk});  // command 0 in a frame too short for one
        if (journal.size() > kJournalLimit) journal.erase(journal.begin(), journal.begin() + kJournalLimit / 2);
        if (options.controlDir.empty()) return;
        const std::string_view bytes(reinterpret_cast<const char*>(frame.data()), frame.size());
        const std::string code = req.wellFormed ? Hex(bytes.substr(3, 1), true) : "--";  // the command byte
        AppendToFile(options.controlDir + "/journal", code + " " + Hex(bytes, true) + "\n");
    }

    // One request frame: journal, faults, the register. Called with the lock held.
    LineReply Respond(const std::vector<uint8_t>& frame) {
        RunControlCommands();
        const Request req = ParseRequest(frame);
        Record(req, frame);
        if (faults.LineDead()) return {};  // nothing reaches the register, nothing comes back
        if (!req.wellFormed || !req.checksumOk) return {{kNak}};
        const FaultPlan plan = faults.Take(req.command);
        if (plan.Is(FaultKind::Dead)) {
            DieWith(plan.outcome->dead, req);
            return {};
        }
        if (plan.Is(FaultKind::Silence)) return {};
        if (plan.Is(FaultKind::Nak)) return {{kNak}};
        LineReply r;
        r.bytes = Outcome(plan, req);
        if (!r.bytes.empty()) {
            if (plan.cut && *plan.cut < r.bytes.size()) r.bytes.resize(*plan.cut);
            r.bytes.insert(r.bytes.begin(), plan.garbage.begin(), plan.garbage.end());
        }
        r.delayMs = settings.processingMs + plan.delayMs;
        return r;
    }

    // The reply the register sends when no fault loses the request (none when its reply is lost).
    std::vector<uint8_t> Outcome(const FaultPlan& plan, const Request& req) {
        if (plan.Is(FaultKind::Reply)) return BuildReply(req.command, 0, plan.outcome->bytes);
        uint16_t status = 0;
        if (plan.Is(FaultKind::Status)) {
            status = static_cast<uint16_t>(plan.outcome->value);
        } else if (plan.Is(FaultKind::PaperOut) || plan.Is(FaultKind::CoverOpen)) {
            const bool cover = plan.Is(FaultKind::CoverOpen);
            status = cover ? kCoverOpen : kPaperOut;
            (cover ? device.State().coverOpen : device.State().paperOut) = true;
        } else {
            Reply reply = device.Handle(req.command, req.accessCode, req.payload);
            if (reply.changed) Save();
            if (plan.Is(FaultKind::LostReply)) return {};
            return BuildReply(req.command, reply.status, reply.data);
        }
        device.RecordError(status);
        Save();
        return BuildReply(req.command, status, {});
    }

    // The line dies with this request: the register loses it, carries it out, or restarts first.
    void DieWith(const DeadLine& dead, const Request& req) {
        faults.KillLine(dead);
        if (dead.moment == DeadMoment::Executed) {
            if (device.Handle(req.command, req.accessCode, req.payload).changed) Save();
        } else if (dead.moment == DeadMoment::Restart) {
            device.Restart();
            Save();
        }
    }

    LinePeer Peer() {
        return {[this] { return Locked(*this, [&] { return settings.baud; }); },
                [this](const std::vector<uint8_t>& frame) {
                    return Locked(*this, [&] { return Respond(frame); });
                },
                [this] {
                    Locked(*this, [&] { ++requestCount; });
                    handled.notify_all();
                }};
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Simulator::~Simulator() { Stop(); }

std::string Simulator::Start() { return impl_->line.ServePty(impl_->Peer()); }
void Simulator::StartOnTty(const std::string& path) {
    impl_->line.ServeTty(path, impl_->settings.baud, impl_->Peer());
}
void Simulator::Stop() { impl_->line.Stop(); }

std::string Simulator::Execute(std::string_view script) {
    return Locked(*impl_, [&] { return impl_->RunScript(script); });
}

DeviceState Simulator::State() const { return Locked(*impl_, [&] { return impl_->device.State(); }); }
void Simulator::Modify(const std::function<void(DeviceState&)>& change) {
    Locked(*impl_, [&] {
        change(impl_->device.State());
        impl_->Save();
    });
}

std::vector<JournalEntry> Simulator::Journal() const { return Locked(*impl_, [&] { return impl_->journal; }); }
void Simulator::ClearJournal() { Locked(*impl_, [&] { impl_->journal.clear(); }); }
size_t Simulator::RequestCount() const { return Locked(*impl_, [&] { return impl_->requestCount; }); }

bool Simulator::WaitForRequests(size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> guard(impl_->lock);
    return impl_->handled.wait_for(guard, limit, [&] { return impl_->requestCount >= count; });
}

std::string Simulator::Tape() const { return Locked(*impl_, [&] { return impl_->tape; }); }
void Simulator::ClearTape() { Locked(*impl_, [&] { impl_->tape.clear(); }); }

std::vector<uint8_t> Simulator::Exchange(const std::vector<uint8_t>& frame) {
    return Locked(*impl_, [&] {
        auto r = impl_->Respond(frame);
        ++impl_->requestCount;
        return r.bytes;
    });
}

}  // namespace vesklink::sim
