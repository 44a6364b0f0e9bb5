#include "sim_script.h"

#include <algorithm>
#include <utility>

#include "sim_cp866.h"

namespace vesklink::sim {
namespace {

void SetCounter(const WordList& w, DeviceState& s) {
    if (w.size() < 3) throw ScriptError{"set counter needs an operation type 1 to 4"};
    const auto type = Unsigned(w[2], 4, "an operation type");
    if (type < 1) throw ScriptError{"operation types are 1 to 4"};
    TypeCounters& c = s.shiftCounters[type - 1];  // Set restores them when a field fails
    for (size_t i = 3; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) throw ScriptError{"set counter: " + std::string(w[i]) + " needs a value"};
        const std::string_view key = w[i], value = w[i + 1];
        auto amount = [&] {
            const int64_t a = Amount(value);
            if (a < 0) throw ScriptError{"counter amounts are not negative"};
            return static_cast<uint64_t>(a);
        };
        auto count = [&] { return static_cast<uint32_t>(Unsigned(value, 0xFFFFFFFFu, "a count")); };
        switch (IndexOf(key, {"count", "amount", "corrections", "correction-amount"})) {
            case 0: c.count = count(); break;
            case 1: c.amount = amount(); break;
            case 2: c.correctionCount = count(); break;
            case 3: c.correctionAmount = amount(); break;
            default: throw ScriptError{"set counter: unknown field \"" + std::string(key) + "\""};
        }
    }
}

void SetAttribute(std::string_view line, const WordList& w, DeviceState& s) {
    if (w.size() < 4) throw ScriptError{"set attr needs a tag and a value kind"};
    const auto tag = static_cast<uint16_t>(Unsigned(w[2], 65535, "a tag number"));
    const std::string_view kind = w[3];
    auto& attrs = s.registration.attributes;
    if (kind == "text") {
        attrs[tag] = Cp866FromUtf8(TextAfter(line, w, 4));
    } else if (kind == "flag" || kind == "byte") {
        if (w.size() != 5) throw ScriptError{"set attr " + std::string(kind) + " needs one value"};
        attrs[tag] = std::string(1, static_cast<char>(Unsigned(w[4], kind == "flag" ? 1 : 255, "a value")));
    } else if (kind == "hex") {
        const auto bytes = HexBytes(TextAfter(line, w, 4));
        attrs[tag] = std::string(bytes.begin(), bytes.end());
    } else if (kind == "none") {
        attrs.erase(tag);
    } else {
        throw ScriptError{"set attr: value kind is text, flag, byte, hex or none"};
    }
}

// One set statement: its words and what it changes.
struct SetStatement {
    std::string_view line;
    const WordList& w;
    ScriptTarget& t;
    DeviceState& s;

    std::string_view One() const {
        if (w.size() != 3) throw ScriptError{"set " + std::string(w[1]) + " needs one value"};
        return w[2];
    }
    template <typename T>
    T Number(uint64_t max, std::string_view what) const {
        return static_cast<T>(Unsigned(One(), max, what));
    }
    uint8_t Byte(std::string_view what) const { return Number<uint8_t>(255, what); }
    // The index of the value among the words the setting takes; "set NAME: a, b or c" when it
    // is none of them.
    size_t Choice(std::initializer_list<std::string_view> words) const {
        const size_t i = IndexOf(One(), words);
        if (i < words.size()) return i;
        std::string usage(words.begin()[0]);
        for (size_t k = 1; k < words.size(); ++k) {
            usage += (k + 1 == words.size() ? " or " : ", ") + std::string(words.begin()[k]);
        }
        throw ScriptError{"set " + std::string(w[1]) + ": " + usage};
    }
    // The rest of the line as register text.
    std::string Text() const { return Cp866FromUtf8(TextAfter(line, w, 2)); }
};

void SetShift(SetStatement& q) {
    const size_t v = q.Choice({"closed", "open", "expired"});
    if (v == 0) {
        q.s.shiftOpen = false;
        return;
    }
    if (!q.s.shiftOpen && q.s.shiftNumber == 0) q.s.shiftNumber = 1;
    q.s.shiftOpen = true;
    q.s.shiftOpenedAt = q.t.device.Now() - (v == 2 ? 25 * 3600 : 0);
}

void SetDocNumber(SetStatement& q) {
    q.s.lastDocumentNumber = q.Number<uint32_t>(0xFFFFFFF0u, "a document number");
    if (q.s.lastSentDocument > q.s.lastDocumentNumber) q.s.lastSentDocument = q.s.lastDocumentNumber;
}

void SetBacklog(SetStatement& q) {
    const auto n = Unsigned(q.One(), 0xFFFFFFFFu, "a document count");
    q.s.lastSentDocument = n >= q.s.lastDocumentNumber ? 0 : q.s.lastDocumentNumber - static_cast<uint32_t>(n);
}

void SetTaxation(SetStatement& q) {
    q.s.registration.taxation = q.Byte("taxation bits");
    q.s.registration.attributes[1062] = std::string(1, static_cast<char>(q.s.registration.taxation));
}

void SetKktNumber(SetStatement& q) {
    q.s.registration.kktNumber = q.Text().substr(0, 20);
    q.s.registration.attributes[1037] = q.s.registration.kktNumber;
}

void SetError(SetStatement& q) {
    if (q.w.size() < 3) throw ScriptError{"set error needs a code"};
    const auto code = static_cast<uint16_t>(Unsigned(q.w[2], 65535, "an error code"));
    q.t.device.RecordError(code, std::string(TextAfter(q.line, q.w, 3)));
}

void SetOfd(SetStatement& q) {
    q.s.ofdOnline = q.Choice({"online", "offline"}) == 0;
    if (q.s.ofdOnline) q.s.lastSentDocument = q.s.lastDocumentNumber;
}

void SetClock(SetStatement& q) {
    const auto v = q.One();
    const int64_t computer = q.t.device.Now() - q.s.clockOffset;
    q.s.clockOffset = v == "now" ? 0 : LocalTime(v) - computer;
}

// The set statement's names, each with what it does.
constexpr std::pair<std::string_view, void (*)(SetStatement&)> kSettings[] = {
    {"shift", SetShift},
    {"shift-number",
     [](SetStatement& q) { q.s.shiftNumber = q.Number<uint16_t>(65535, "a shift number"); }},
    {"shift-receipts",
     [](SetStatement& q) { q.s.shiftReceiptNumber = q.Number<uint16_t>(65535, "a receipt number"); }},
    {"doc-number", SetDocNumber},
    {"backlog", SetBacklog},
    {"cash", [](SetStatement& q) { q.s.cash = Amount(q.One()); }},
    {"counter", [](SetStatement& q) { SetCounter(q.w, q.s); }},
    {"fn-state", [](SetStatement& q) { q.s.fnState = q.Byte("an FN state"); }},
    {"fn-warnings", [](SetStatement& q) { q.s.fnWarnings = q.Byte("warning bits"); }},
    {"mode", [](SetStatement& q) { q.s.modeByte = q.Byte("a mode byte"); }},
    {"taxation", SetTaxation},
    {"ffd", [](SetStatement& q) { q.s.ffdCode = q.Byte("an FFD code"); }},
    {"attr", [](SetStatement& q) { SetAttribute(q.line, q.w, q.s); }},
    {"kkt-number", SetKktNumber},
    {"fn-serial", [](SetStatement& q) { q.s.fnSerial = q.Text().substr(0, 16); }},
    {"kkt-serial", [](SetStatement& q) { q.s.kktSerial = q.Text().substr(0, 20); }},
    {"cashier", [](SetStatement& q) { SetCashierName(q.s.cashier, q.Text()); }},
    {"error", SetError},
    {"ofd", SetOfd},
    {"paper", [](SetStatement& q) { q.s.paperOut = q.Choice({"ok", "out"}) == 1; }},
    {"cover", [](SetStatement& q) { q.s.coverOpen = q.Choice({"closed", "open"}) == 1; }},
    {"clock", SetClock},
    {"processing",
     [](SetStatement& q) { q.t.settings.processingMs = q.Number<unsigned>(600000, "milliseconds"); }},
    {"baud", [](SetStatement& q) { q.t.settings.baud = q.Number<unsigned>(4000000, "a line speed"); }},
};

// A failing setting leaves the state as it was.
void Set(std::string_view line, const WordList& w, ScriptTarget& t) {
    if (w.size() < 2) throw ScriptError{"set needs a name"};
    for (const auto& [name, apply] : kSettings) {
        if (name != w[1]) continue;
        const DeviceState before = t.device.State();
        const LinkSettings settingsBefore = t.settings;
        try {
            SetStatement q{line, w, t, t.device.State()};
            apply(q);
        } catch (...) {
            t.device.State() = before;
            t.settings = settingsBefore;
            throw;
        }
        return;
    }
    throw ScriptError{"unknown setting \"" + std::string(w[1]) + "\""};
}

void ExecuteStatement(std::string_view line, ScriptTarget& t) {
    const auto w = SplitWords(line);
    if (w.empty()) return;
    const std::string_view verb = w[0];
    if (verb == "fault") {
        t.faults.Add(ReadFault(w));
    } else if (verb == "clear") {
        if (w.size() > 2) throw ScriptError{"clear takes at most one command code"};
        t.faults.Clear(w.size() == 2 && w[1] != "faults" ? CommandCode(w[1]) : -1);
    } else if (verb == "reset") {
        if (w.size() > 2 || (w.size() == 2 && w[1] != "unregistered")) throw ScriptError{"reset [unregistered]"};
        DeviceState fresh = NewDeviceState(w.size() == 1, t.device.Now());
        fresh.clockOffset = t.device.State().clockOffset;  // the register's clock stays as it was set
        t.device.State() = std::move(fresh);
        t.faults.Clear();
    } else if (verb == "restart") {
        if (w.size() != 1) throw ScriptError{"restart takes nothing more"};
        t.device.Restart();
    } else if (verb == "set") {
        Set(line, w, t);
    } else {
        throw ScriptError{"unknown statement \"" + std::string(verb) + "\""};
    }
}

}  // namespace

std::string ExecuteScript(std::string_view script, ScriptTarget target) {
    std::string errors;
    size_t lineNumber = 0;
    for (size_t pos = 0; pos <= script.size();) {
        size_t end = std::min(script.find('\n', pos), script.size());
        std::string_view line = script.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string_view::npos && line[first] == '#') line = {};
        try {
            ExecuteStatement(line, target);
        } catch (const ScriptError& e) {
            errors += "line " + std::to_string(lineNumber) + ": " + e.text + "\n";
        }
    }
    return errors;
}

}  // namespace vesklink::sim
