#include "sim_script.h"

#include <cctype>
#include <ctime>

#include "sim_cp866.h"

namespace vesklink::sim {
namespace {

struct Error {
    std::string text;
};

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
        words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

// Text after the first n words of a line, blanks around it trimmed.
std::string_view TextAfter(std::string_view line, const std::vector<std::string_view>& words, size_t n) {
    if (n >= words.size()) return {};
    std::string_view rest = line.substr(static_cast<size_t>(words[n].data() - line.data()));
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.remove_suffix(1);
    return rest;
}

uint64_t Unsigned(std::string_view text, uint64_t max, std::string_view what) {
    uint64_t v = 0;
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    } else if (digits.size() > 1 && (digits.back() == 'h' || digits.back() == 'H')) {
        base = 16;
        digits.remove_suffix(1);
    }
    if (digits.empty()) throw Error{"expected " + std::string(what) + ", got \"" + std::string(text) + "\""};
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            throw Error{"expected " + std::string(what) + ", got \"" + std::string(text) + "\""};
        }
        if (static_cast<uint64_t>(d) > max || v > (max - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
            throw Error{std::string(what) + " out of range: " + std::string(text)};
        }
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return v;
}

// Currency units with up to two decimals, to hundredths.
int64_t Amount(std::string_view text) {
    std::string_view t = text;
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    const size_t dot = t.find_first_of(".,");
    const std::string_view whole = t.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
    if (whole.empty() || fraction.size() > 2 || (dot != std::string_view::npos && fraction.empty())) {
        throw Error{"expected an amount such as 123.45, got \"" + std::string(text) + "\""};
    }
    auto digitsOnly = [](std::string_view s) {
        for (char c : s) {
            if (c < '0' || c > '9') return false;
        }
        return true;
    };
    if (!digitsOnly(whole) || !digitsOnly(fraction)) {
        throw Error{"expected an amount such as 123.45, got \"" + std::string(text) + "\""};
    }
    const uint64_t units = Unsigned(whole, 100000000000ull, "amount");
    uint64_t cents = fraction.empty() ? 0 : Unsigned(fraction, 99, "amount");
    if (fraction.size() == 1) cents *= 10;
    const auto value = static_cast<int64_t>(units * 100 + cents);
    return negative ? -value : value;
}

std::vector<uint8_t> HexBytes(std::string_view text) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        digits += c;
    }
    if (digits.size() % 2) throw Error{"odd number of hex digits"};
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(Unsigned("0x" + digits.substr(i, 2), 255, "hex bytes")));
    }
    return out;
}

int CommandCode(std::string_view text) {
    if (text == "all" || text == "*") return -1;
    return static_cast<int>(Unsigned(text, 255, "a command code"));
}

// Local date and time "YYYY-MM-DDThh:mm[:ss]" to seconds since the epoch.
int64_t LocalTime(std::string_view text) {
    std::tm tm{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const std::string s(text);
    const int n = std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second);
    if (n < 5 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        year < 2000 || year > 2099) {
        throw Error{"expected a date and time such as 2024-03-07T09:05, got \"" + s + "\""};
    }
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

bool IsModifier(std::string_view w) {
    return w == "once" || w == "always" || w == "times" || w == "after" || w == "from";
}

void ParseFault(const std::vector<std::string_view>& w, FaultTable& faults) {
    if (w.size() < 3) throw Error{"fault needs a command code and a kind"};
    Fault f;
    f.command = CommandCode(w[1]);
    const std::string_view kind = w[2];
    size_t i = 3;
    auto number = [&](uint64_t max, std::string_view what) -> uint64_t {
        if (i >= w.size()) throw Error{"fault " + std::string(kind) + " needs " + std::string(what)};
        return Unsigned(w[i++], max, what);
    };
    auto hexArgs = [&]() {
        std::string hex;
        while (i < w.size() && !IsModifier(w[i])) hex += std::string(w[i++]);
        return HexBytes(hex);
    };
    if (kind == "silence") {
        f.kind = FaultKind::Silence;
    } else if (kind == "nak") {
        f.kind = FaultKind::Nak;
    } else if (kind == "garbage") {
        f.kind = FaultKind::Garbage;
        f.bytes = hexArgs();
        if (f.bytes.empty()) f.bytes = {0xFF, 0x00, 0xFF, 0x55};
        for (uint8_t b : f.bytes) {
            if (b == 0x06 || b == 0x15) throw Error{"garbage must not hold ACK or NAK bytes"};
        }
    } else if (kind == "cut") {
        f.kind = FaultKind::Cut;
        f.value = static_cast<uint32_t>(number(65535, "a byte count"));
    } else if (kind == "status") {
        f.kind = FaultKind::Status;
        f.value = static_cast<uint32_t>(number(65535, "a status word"));
        if (f.value == 0) throw Error{"status 0 is success; use reply for a scripted success"};
    } else if (kind == "delay") {
        f.kind = FaultKind::Delay;
        f.value = static_cast<uint32_t>(number(600000, "milliseconds"));
    } else if (kind == "reply") {
        f.kind = FaultKind::Reply;
        f.bytes = hexArgs();
    } else if (kind == "lost-reply") {
        f.kind = FaultKind::LostReply;
    } else if (kind == "paper-out") {
        f.kind = FaultKind::PaperOut;
    } else if (kind == "cover-open") {
        f.kind = FaultKind::CoverOpen;
    } else {
        throw Error{"unknown fault kind \"" + std::string(kind) + "\""};
    }
    while (i < w.size()) {
        const std::string_view m = w[i++];
        if (m == "once") {
            f.remaining = 1;
        } else if (m == "always") {
            f.remaining = -1;
        } else if (m == "times") {
            f.remaining = static_cast<int64_t>(number(1000000000, "a count"));
            if (f.remaining == 0) throw Error{"times needs a count above 0"};
        } else if (m == "after") {
            f.skip = number(1000000000, "a count");
        } else if (m == "from") {
            const uint64_t n = number(1000000000, "a request number");
            if (n == 0) throw Error{"requests are counted from 1"};
            f.skip = n - 1;
        } else {
            throw Error{"unexpected \"" + std::string(m) + "\" in a fault"};
        }
    }
    faults.Add(std::move(f));
}

void SetCounter(const std::vector<std::string_view>& w, DeviceState& s) {
    if (w.size() < 3) throw Error{"set counter needs an operation type 1 to 4"};
    const auto type = Unsigned(w[2], 4, "an operation type");
    if (type < 1) throw Error{"operation types are 1 to 4"};
    TypeCounters c = s.shiftCounters[type - 1];
    for (size_t i = 3; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) throw Error{"set counter: " + std::string(w[i]) + " needs a value"};
        const std::string_view key = w[i], value = w[i + 1];
        if (key == "count") {
            c.count = static_cast<uint32_t>(Unsigned(value, 0xFFFFFFFFu, "a count"));
        } else if (key == "amount") {
            const int64_t a = Amount(value);
            if (a < 0) throw Error{"counter amounts are not negative"};
            c.amount = static_cast<uint64_t>(a);
        } else if (key == "corrections") {
            c.correctionCount = static_cast<uint32_t>(Unsigned(value, 0xFFFFFFFFu, "a count"));
        } else if (key == "correction-amount") {
            const int64_t a = Amount(value);
            if (a < 0) throw Error{"counter amounts are not negative"};
            c.correctionAmount = static_cast<uint64_t>(a);
        } else {
            throw Error{"set counter: unknown field \"" + std::string(key) + "\""};
        }
    }
    s.shiftCounters[type - 1] = c;
}

void SetAttribute(std::string_view line, const std::vector<std::string_view>& w, DeviceState& s) {
    if (w.size() < 4) throw Error{"set attr needs a tag and a value kind"};
    const auto tag = static_cast<uint16_t>(Unsigned(w[2], 65535, "a tag number"));
    const std::string_view kind = w[3];
    auto& attrs = s.registration.attributes;
    if (kind == "text") {
        attrs[tag] = Cp866FromUtf8(TextAfter(line, w, 4));
    } else if (kind == "flag" || kind == "byte") {
        if (w.size() != 5) throw Error{"set attr " + std::string(kind) + " needs one value"};
        attrs[tag] = std::string(1, static_cast<char>(Unsigned(w[4], kind == "flag" ? 1 : 255, "a value")));
    } else if (kind == "hex") {
        const auto bytes = HexBytes(TextAfter(line, w, 4));
        attrs[tag] = std::string(bytes.begin(), bytes.end());
    } else if (kind == "none") {
        attrs.erase(tag);
    } else {
        throw Error{"set attr: value kind is text, flag, byte, hex or none"};
    }
}

void ParseSet(std::string_view line, const std::vector<std::string_view>& w, ScriptTarget& t) {
    if (w.size() < 2) throw Error{"set needs a name"};
    DeviceState& s = t.device.State();
    const std::string_view name = w[1];
    auto one = [&]() -> std::string_view {
        if (w.size() != 3) throw Error{"set " + std::string(name) + " needs one value"};
        return w[2];
    };
    auto byte = [&](std::string_view what) { return static_cast<uint8_t>(Unsigned(one(), 255, what)); };
    if (name == "shift") {
        const auto v = one();
        if (v == "closed") {
            s.shiftOpen = false;
        } else if (v == "open" || v == "expired") {
            if (!s.shiftOpen && s.shiftNumber == 0) s.shiftNumber = 1;
            s.shiftOpen = true;
            s.shiftOpenedAt = t.device.Now() - (v == "expired" ? 25 * 3600 : 0);
        } else {
            throw Error{"set shift: closed, open or expired"};
        }
    } else if (name == "shift-number") {
        s.shiftNumber = static_cast<uint16_t>(Unsigned(one(), 65535, "a shift number"));
    } else if (name == "shift-receipts") {
        s.shiftReceiptNumber = static_cast<uint16_t>(Unsigned(one(), 65535, "a receipt number"));
    } else if (name == "doc-number") {
        s.lastDocumentNumber = static_cast<uint32_t>(Unsigned(one(), 0xFFFFFFF0u, "a document number"));
        if (s.lastSentDocument > s.lastDocumentNumber) s.lastSentDocument = s.lastDocumentNumber;
    } else if (name == "backlog") {
        const auto n = Unsigned(one(), 0xFFFFFFFFu, "a document count");
        s.lastSentDocument = n >= s.lastDocumentNumber ? 0 : s.lastDocumentNumber - static_cast<uint32_t>(n);
    } else if (name == "cash") {
        s.cash = Amount(one());
    } else if (name == "counter") {
        SetCounter(w, s);
    } else if (name == "fn-state") {
        s.fnState = byte("an FN state");
    } else if (name == "fn-warnings") {
        s.fnWarnings = byte("warning bits");
    } else if (name == "mode") {
        s.modeByte = byte("a mode byte");
    } else if (name == "taxation") {
        s.registration.taxation = byte("taxation bits");
        s.registration.attributes[1062] = std::string(1, static_cast<char>(s.registration.taxation));
    } else if (name == "ffd") {
        s.ffdCode = byte("an FFD code");
    } else if (name == "attr") {
        SetAttribute(line, w, s);
    } else if (name == "kkt-number") {
        s.registration.kktNumber = Cp866FromUtf8(TextAfter(line, w, 2)).substr(0, 20);
        s.registration.attributes[1037] = s.registration.kktNumber;
    } else if (name == "fn-serial") {
        s.fnSerial = Cp866FromUtf8(TextAfter(line, w, 2)).substr(0, 16);
    } else if (name == "kkt-serial") {
        s.kktSerial = Cp866FromUtf8(TextAfter(line, w, 2)).substr(0, 20);
    } else if (name == "cashier") {
        const std::string text = Cp866FromUtf8(TextAfter(line, w, 2));
        for (size_t i = 0; i < 64; ++i) s.cashier[3 + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    } else if (name == "error") {
        if (w.size() < 3) throw Error{"set error needs a code"};
        const auto code = static_cast<uint16_t>(Unsigned(w[2], 65535, "an error code"));
        t.device.RecordError(code, std::string(TextAfter(line, w, 3)));
    } else if (name == "ofd") {
        const auto v = one();
        if (v != "online" && v != "offline") throw Error{"set ofd: online or offline"};
        s.ofdOnline = v == "online";
        if (s.ofdOnline) s.lastSentDocument = s.lastDocumentNumber;
    } else if (name == "paper") {
        const auto v = one();
        if (v != "ok" && v != "out") throw Error{"set paper: ok or out"};
        s.paperOut = v == "out";
    } else if (name == "cover") {
        const auto v = one();
        if (v != "closed" && v != "open") throw Error{"set cover: closed or open"};
        s.coverOpen = v == "open";
    } else if (name == "clock") {
        const auto v = one();
        const int64_t computer = t.device.Now() - s.clockOffset;
        s.clockOffset = v == "now" ? 0 : LocalTime(v) - computer;
    } else if (name == "processing") {
        t.settings.processingMs = static_cast<unsigned>(Unsigned(one(), 600000, "milliseconds"));
    } else if (name == "baud") {
        t.settings.baud = static_cast<unsigned>(Unsigned(one(), 4000000, "a line speed"));
    } else {
        throw Error{"unknown setting \"" + std::string(name) + "\""};
    }
}

void ExecuteStatement(std::string_view line, ScriptTarget& t) {
    const auto w = Split(line);
    if (w.empty()) return;
    const std::string_view verb = w[0];
    if (verb == "fault") {
        ParseFault(w, t.faults);
    } else if (verb == "clear") {
        if (w.size() > 2) throw Error{"clear takes at most one command code"};
        t.faults.Clear(w.size() == 2 && w[1] != "faults" ? CommandCode(w[1]) : -1);
    } else if (verb == "reset") {
        if (w.size() > 2 || (w.size() == 2 && w[1] != "unregistered")) throw Error{"reset [unregistered]"};
        DeviceState& s = t.device.State();
        const int64_t offset = s.clockOffset;
        s = NewDeviceState(w.size() == 1, t.device.Now());
        s.clockOffset = offset;
        t.faults.Clear();
    } else if (verb == "set") {
        // A failing setting must leave the state as it was.
        const DeviceState before = t.device.State();
        const LinkSettings settingsBefore = t.settings;
        try {
            ParseSet(line, w, t);
        } catch (...) {
            t.device.State() = before;
            t.settings = settingsBefore;
            throw;
        }
    } else {
        throw Error{"unknown statement \"" + std::string(verb) + "\""};
    }
}

}  // namespace

void FaultTable::Clear(int command) {
    if (command < 0) {
        faults_.clear();
        return;
    }
    std::erase_if(faults_, [command](const Fault& f) { return f.command == command; });
}

FaultPlan FaultTable::Take(uint8_t command) {
    FaultPlan plan;
    bool outcome = false;  // only the first silence/nak/status/reply/lost-reply/paper/cover applies
    for (auto& f : faults_) {
        if (f.command >= 0 && f.command != command) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        const bool isOutcome = f.kind != FaultKind::Garbage && f.kind != FaultKind::Cut && f.kind != FaultKind::Delay;
        if (isOutcome && outcome) continue;
        switch (f.kind) {
            case FaultKind::Silence: plan.silence = true; break;
            case FaultKind::Nak: plan.nak = true; break;
            case FaultKind::LostReply: plan.lostReply = true; break;
            case FaultKind::Status: plan.status = static_cast<uint16_t>(f.value); break;
            case FaultKind::Reply: plan.reply = f.bytes; break;
            case FaultKind::PaperOut: plan.paperOut = true; break;
            case FaultKind::CoverOpen: plan.coverOpen = true; break;
            case FaultKind::Garbage: plan.garbage.insert(plan.garbage.end(), f.bytes.begin(), f.bytes.end()); break;
            case FaultKind::Cut:
                if (!plan.cut || f.value < *plan.cut) plan.cut = f.value;
                break;
            case FaultKind::Delay: plan.delayMs += f.value; break;
        }
        outcome = outcome || isOutcome;
        if (f.remaining > 0) --f.remaining;
    }
    std::erase_if(faults_, [](const Fault& f) { return f.remaining == 0; });
    return plan;
}

std::string ExecuteScript(std::string_view script, ScriptTarget target) {
    std::string errors;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos <= script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string_view::npos) end = script.size();
        std::string_view line = script.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string_view::npos && line[first] == '#') line = {};
        try {
            ExecuteStatement(line, target);
        } catch (const Error& e) {
            errors += "line " + std::to_string(lineNumber) + ": " + e.text + "\n";
        }
    }
    return errors;
}

}  // namespace vesklink::sim
