#include "sim_script.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace vesklink::sim {
namespace {

// The words that say how often a fault applies and from which request.
const std::initializer_list<std::string_view> kCounts = {"once", "always", "times", "after", "from"};

bool IsModifier(std::string_view w) { return IndexOf(w, kCounts) < kCounts.size(); }

// The words of one fault statement, read from left to right.
struct FaultWords {
    const WordList& w;
    std::string_view kind;
    size_t i = 3;

    uint64_t Number(uint64_t max, std::string_view what) {
        if (i >= w.size()) throw ScriptError{"fault " + std::string(kind) + " needs " + std::string(what)};
        return Unsigned(w[i++], max, what);
    }
    uint32_t Value(uint64_t max, std::string_view what) { return static_cast<uint32_t>(Number(max, what)); }
    std::vector<uint8_t> Hex() {
        std::string hex;
        while (i < w.size() && !IsModifier(w[i])) hex += std::string(w[i++]);
        return HexBytes(hex);
    }
};

// A time such as 2s or 500ms.
std::chrono::milliseconds Duration(FaultWords& words) {
    if (words.i >= words.w.size()) throw ScriptError{"fault dead needs a time such as 2s or 500ms"};
    std::string_view t = words.w[words.i++];
    const bool ms = t.size() > 2 && t.ends_with("ms");
    if (!ms && (t.size() < 2 || t.back() != 's')) {
        throw ScriptError{"expected a time such as 2s or 500ms, got \"" + std::string(t) + "\""};
    }
    t.remove_suffix(ms ? 2 : 1);
    const uint64_t scale = ms ? 1 : 1000;
    return std::chrono::milliseconds(Unsigned(t, 3600000 / scale, "a time") * scale);
}

void GarbageBytes(FaultWords& words, Fault& f) {
    f.bytes = words.Hex();
    if (f.bytes.empty()) f.bytes = {0xFF, 0x00, 0xFF, 0x55};
    if (std::any_of(f.bytes.begin(), f.bytes.end(), [](uint8_t b) { return b == 0x06 || b == 0x15; })) {
        throw ScriptError{"garbage must not hold ACK or NAK bytes"};
    }
}

void StatusWord(FaultWords& words, Fault& f) {
    f.value = words.Value(65535, "a status word");
    if (f.value == 0) throw ScriptError{"status 0 is success; use reply for a scripted success"};
}

// dead lost|executed|restart, then for N (further requests) or until T (Ns or Nms). A dead line
// strikes once unless a count says otherwise.
void DeadArguments(FaultWords& words, Fault& f) {
    const auto& w = words.w;
    if (words.i + 2 > w.size()) {
        throw ScriptError{"fault dead needs lost, executed or restart, then for N or until TIME"};
    }
    const std::string_view moment = w[words.i++];
    const size_t m = IndexOf(moment, {"lost", "executed", "restart"});  // in the order of DeadMoment
    if (m == 3) {
        throw ScriptError{"fault dead: lost, executed or restart, not \"" + std::string(moment) + "\""};
    }
    f.dead.moment = static_cast<DeadMoment>(m);
    const std::string_view period = w[words.i++];
    if (period == "for") {
        f.dead.requests = words.Number(1000000000, "a request count");
    } else if (period == "until") {
        f.dead.timed = true;
        f.dead.time = Duration(words);
    } else {
        throw ScriptError{"fault dead: for N requests or until TIME, not \"" + std::string(period) + "\""};
    }
    f.remaining = 1;
}

// The fault kinds: the word that names each, and what reads its arguments.
struct KindRow {
    std::string_view name;
    FaultKind kind;
    void (*arguments)(FaultWords&, Fault&);
};
constexpr KindRow kKinds[] = {
    {"silence", FaultKind::Silence, nullptr},
    {"nak", FaultKind::Nak, nullptr},
    {"garbage", FaultKind::Garbage, GarbageBytes},
    {"cut", FaultKind::Cut, [](FaultWords& w, Fault& f) { f.value = w.Value(65535, "a byte count"); }},
    {"status", FaultKind::Status, StatusWord},
    {"delay", FaultKind::Delay, [](FaultWords& w, Fault& f) { f.value = w.Value(600000, "milliseconds"); }},
    {"reply", FaultKind::Reply, [](FaultWords& w, Fault& f) { f.bytes = w.Hex(); }},
    {"lost-reply", FaultKind::LostReply, nullptr},
    {"paper-out", FaultKind::PaperOut, nullptr},
    {"cover-open", FaultKind::CoverOpen, nullptr},
    {"dead", FaultKind::Dead, DeadArguments},
};

// once, always, times N, after N, from N.
void ReadCount(FaultWords& words, Fault& f) {
    const std::string_view m = words.w[words.i++];
    switch (IndexOf(m, kCounts)) {
        case 0: f.remaining = 1; break;
        case 1: f.remaining = -1; break;
        case 2:
            f.remaining = static_cast<int64_t>(words.Number(1000000000, "a count"));
            if (f.remaining == 0) throw ScriptError{"times needs a count above 0"};
            break;
        case 3: f.skip = words.Number(1000000000, "a count"); break;
        case 4:
            f.skip = words.Number(1000000000, "a request number");
            if (f.skip == 0) throw ScriptError{"requests are counted from 1"};
            --f.skip;
            break;
        default: throw ScriptError{"unexpected \"" + std::string(m) + "\" in a fault"};
    }
}

}  // namespace

Fault ReadFault(const WordList& w) {
    if (w.size() < 3) throw ScriptError{"fault needs a command code and a kind"};
    Fault f;
    f.command = CommandCode(w[1]);
    FaultWords words{w, w[2]};
    const auto row = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [&](auto& k) { return k.name == words.kind; });
    if (row == std::end(kKinds)) {
        throw ScriptError{"unknown fault kind \"" + std::string(words.kind) + "\""};
    }
    f.kind = row->kind;
    if (row->arguments) row->arguments(words, f);
    while (words.i < w.size()) ReadCount(words, f);
    return f;
}

void FaultTable::Clear(int command) {
    if (command < 0) {
        faults_.clear();
        deadRequests_ = 0;
        deadUntil_.reset();
        return;
    }
    std::erase_if(faults_, [command](const Fault& f) { return f.command == command; });
}

FaultPlan FaultTable::Take(uint8_t command) {
    FaultPlan plan;
    for (auto& f : faults_) {
        if (f.command >= 0 && f.command != command) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.kind == FaultKind::Garbage) {
            plan.garbage.insert(plan.garbage.end(), f.bytes.begin(), f.bytes.end());
        } else if (f.kind == FaultKind::Cut) {
            if (!plan.cut || f.value < *plan.cut) plan.cut = f.value;
        } else if (f.kind == FaultKind::Delay) {
            plan.delayMs += f.value;
        } else if (plan.outcome) {
            continue;  // only the first of the others applies
        } else {
            plan.outcome = f;
        }
        if (f.remaining > 0) --f.remaining;
    }
    std::erase_if(faults_, [](const Fault& f) { return f.remaining == 0; });
    return plan;
}

void FaultTable::KillLine(const DeadLine& dead) {
    deadRequests_ = dead.timed ? 0 : dead.requests;
    deadUntil_.reset();
    if (dead.timed) deadUntil_ = std::chrono::steady_clock::now() + dead.time;
}

bool FaultTable::LineDead() {
    if (deadRequests_ > 0) {
        --deadRequests_;
        return true;
    }
    if (deadUntil_ && std::chrono::steady_clock::now() < *deadUntil_) return true;
    deadUntil_.reset();
    return false;
}

}  // namespace vesklink::sim
