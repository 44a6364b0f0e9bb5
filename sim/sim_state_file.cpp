// The state file: one "key value" line per field, in the order of the field table below, between
// the header line and the end marker. One row of the table both writes a field and reads it back,
// so a new field is one row.
#include <cerrno>
#include <concepts>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "sim_state.h"
#include "sim_state_text.h"

namespace vesklink::sim {
namespace {

constexpr std::string_view kHeader = "vesklink-sim state 1";

// A byte field: a decimal number below the limit.
bool Byte(std::string_view text, uint8_t& out, unsigned limit = 256) {
    unsigned u = 0;
    if (!Number(text, u) || u >= limit) return false;
    out = static_cast<uint8_t>(u);
    return true;
}

// The text of a value of one field, and the value read back from the words of its line.
std::string ValueText(bool v) { return v ? "1" : "0"; }
std::string ValueText(uint8_t v) { return std::to_string(unsigned(v)); }
template <std::integral T>
std::string ValueText(T v) {
    return std::to_string(v);
}
std::string ValueText(const std::string& cp866) { return EscapeText(cp866); }
template <size_t N>
std::string ValueText(const std::array<uint8_t, N>& bytes) {
    return ArrayHex(bytes);
}

bool ReadValue(const Words& w, uint8_t& v) { return Byte(w[1], v); }
template <std::integral T>
bool ReadValue(const Words& w, T& v) {
    return Number(w[1], v);
}
bool ReadValue(const Words& w, std::string& cp866) { return UnescapeText(w.After(1), cp866); }
template <size_t N>
bool ReadValue(const Words& w, std::array<uint8_t, N>& bytes) {
    return ArrayUnhex(w[1], bytes);
}

class Writer {
public:
    void Line(std::string_view key, std::string_view value) {
        text_.append(key).append(1, ' ').append(value).append(1, '\n');
    }
    std::string Take() { return std::move(text_); }

private:
    std::string text_;
};

struct Field {
    std::string_view key;
    // Writes the field's lines; empty for lines that the row before writes with its own.
    std::function<void(Writer&, const DeviceState&)> write;
    std::function<bool(const Words&, DeviceState&)> read;
    bool whileDocumentOpen = false;  // written only while a document is being built
};

// A field of one value. get gives the value in a state, const or not.
template <typename Get>
Field Scalar(std::string_view key, Get get, bool whileDocumentOpen = false) {
    return {key, [key, get](Writer& out, const DeviceState& s) { out.Line(key, ValueText(get(s))); },
            [get](const Words& w, DeviceState& s) { return ReadValue(w, get(s)); }, whileDocumentOpen};
}

std::string TagText(const FiscalTag& t) { return std::to_string(t.tag) + ' ' + Hex(t.value); }

bool ReadTag(const Words& w, std::vector<FiscalTag>& tags) {
    FiscalTag t;
    if (w.size() != 3 || !Number(w[1], t.tag) || !Unhex(w[2], t.value)) return false;
    tags.push_back(std::move(t));
    return true;
}

// Fiscal attributes, one line each.
template <typename Get>
Field Tags(std::string_view key, Get get) {
    return {key,
            [key, get](Writer& out, const DeviceState& s) {
                for (const auto& t : get(s)) out.Line(key, TagText(t));
            },
            [get](const Words& w, DeviceState& s) { return ReadTag(w, get(s)); }, true};
}

// The counters of the four operation types, one line each: the type, then every counter.
template <typename Get>
Field Counters(std::string_view key, Get get) {
    auto write = [key, get](Writer& out, const DeviceState& s) {
        for (size_t k = 0; k < 4; ++k) {
            const auto& c = get(s)[k];
            std::string v = std::to_string(k + 1) + ' ' + std::to_string(c.count) + ' ' + std::to_string(c.amount) +
                            ' ' + std::to_string(c.correctionCount) + ' ' + std::to_string(c.correctionAmount);
            for (auto x : c.payments) v += ' ' + std::to_string(x);
            for (auto x : c.vat) v += ' ' + std::to_string(x);
            out.Line(key, v);
        }
    };
    auto read = [get](const Words& w, DeviceState& s) {
        size_t k = 0;
        if (w.size() != 17 || !Number(w[1], k) || k < 1 || k > 4) return false;
        auto& c = get(s)[k - 1];
        bool ok = Number(w[2], c.count) && Number(w[3], c.amount) && Number(w[4], c.correctionCount) &&
                  Number(w[5], c.correctionAmount);
        for (size_t i = 0; i < 5; ++i) ok = ok && Number(w[6 + i], c.payments[i]);
        for (size_t i = 0; i < 6; ++i) ok = ok && Number(w[11 + i], c.vat[i]);
        return ok;
    };
    return {key, write, read};
}

// Lines of text (code page 866 kept as escaped UTF-8), one line each.
std::string EscapedLine(const std::string& line) { return EscapeText(line); }

bool ReadLine(const Words& w, std::vector<std::string>& lines) {
    std::string l;
    if (!UnescapeText(w.After(1), l)) return false;
    lines.push_back(std::move(l));
    return true;
}

std::string PositionText(const Position& p) {
    return std::to_string(unsigned(p.flags)) + ' ' + std::to_string(unsigned(p.paymentMethod)) + ' ' +
           std::to_string(unsigned(p.subject)) + ' ' + std::to_string(unsigned(p.vat)) + ' ' + Hex(p.country) + ' ' +
           std::to_string(p.quantity) + ' ' + std::to_string(p.price) + ' ' + std::to_string(p.excise) + ' ' +
           std::to_string(p.amount) + ' ' + Hex(p.name);
}

bool ReadPosition(const Words& w, DeviceState& s) {
    Position p;
    const bool ok = w.size() == 11 && Byte(w[1], p.flags) && Byte(w[2], p.paymentMethod) && Byte(w[3], p.subject) &&
                    Byte(w[4], p.vat) && Unhex(w[5], p.country) && Number(w[6], p.quantity) &&
                    Number(w[7], p.price) && Number(w[8], p.excise) && Number(w[9], p.amount) && Unhex(w[10], p.name);
    if (ok) s.document.positions.push_back(std::move(p));
    return ok;
}

std::string CorrectionText(const OpenDocument& d) {
    return std::to_string(unsigned(d.correctionType)) + ' ' + ValueText(d.correctionHasDate) + ' ' +
           ArrayHex(d.correctionDate) + ' ' + Hex(d.correctionDescription) + ' ' + Hex(d.correctionNumber);
}

bool ReadCorrection(const Words& w, DeviceState& s) {
    auto& d = s.document;
    return w.size() == 6 && Byte(w[1], d.correctionType) && Number(w[2], d.correctionHasDate) &&
           ArrayUnhex(w[3], d.correctionDate) && Unhex(w[4], d.correctionDescription) && Unhex(w[5], d.correctionNumber);
}

std::string DocumentText(const Document& doc) {
    return std::to_string(doc.number) + ' ' + std::to_string(unsigned(doc.type)) + ' ' + ArrayHex(doc.time) + ' ' +
           std::to_string(doc.fiscalSign);
}

bool ReadDocument(const Words& w, DeviceState& s) {
    Document doc;
    const bool ok = w.size() == 5 && Number(w[1], doc.number) && Byte(w[2], doc.type) &&
                    ArrayUnhex(w[3], doc.time) && Number(w[4], doc.fiscalSign);
    if (ok) s.journal.push_back(std::move(doc));
    return ok;
}

}  // namespace

namespace {

// Every field of the state file, in the order it is written.
const std::vector<Field> kStateFields = {
    Scalar("registered", [](auto& s) -> auto& { return s.registered; }),
    Scalar("mode", [](auto& s) -> auto& { return s.modeByte; }),
    Scalar("fn-state", [](auto& s) -> auto& { return s.fnState; }),
    Scalar("fn-warnings", [](auto& s) -> auto& { return s.fnWarnings; }),
    Scalar("fn-serial", [](auto& s) -> auto& { return s.fnSerial; }),
    Scalar("kkt-serial", [](auto& s) -> auto& { return s.kktSerial; }),
    Scalar("ffd", [](auto& s) -> auto& { return s.ffdCode; }),
    Scalar("reg-time", [](auto& s) -> auto& { return s.registration.time; }),
    Scalar("reg-kkt-number", [](auto& s) -> auto& { return s.registration.kktNumber; }),
    Scalar("reg-inn", [](auto& s) -> auto& { return s.registration.inn; }),
    Scalar("reg-taxation", [](auto& s) -> auto& { return s.registration.taxation; }),
    Scalar("reg-agent-types", [](auto& s) -> auto& { return s.registration.agentTypes; }),
    Scalar("reg-reason", [](auto& s) -> auto& { return s.registration.reason; }),
    Scalar("reg-modes", [](auto& s) -> auto& { return s.registration.operatingModes; }),
    Scalar("reg-document", [](auto& s) -> auto& { return s.registration.documentNumber; }),
    {"reg-attr",
     [](Writer& out, const DeviceState& s) {
         for (const auto& [tag, value] : s.registration.attributes) out.Line("reg-attr", std::to_string(tag) + ' ' + Hex(value));
     },
     [](const Words& w, DeviceState& s) {
         uint16_t tag = 0;
         std::string value;
         if (w.size() != 3 || !Number(w[1], tag) || !Unhex(w[2], value)) return false;
         s.registration.attributes[tag] = value;
         return true;
     }},
    Scalar("shift-open", [](auto& s) -> auto& { return s.shiftOpen; }),
    Scalar("shift-number", [](auto& s) -> auto& { return s.shiftNumber; }),
    Scalar("shift-receipts", [](auto& s) -> auto& { return s.shiftReceiptNumber; }),
    Scalar("shift-opened-at", [](auto& s) -> auto& { return s.shiftOpenedAt; }),
    Scalar("last-document", [](auto& s) -> auto& { return s.lastDocumentNumber; }),
    Scalar("last-sent", [](auto& s) -> auto& { return s.lastSentDocument; }),
    Scalar("ofd-online", [](auto& s) -> auto& { return s.ofdOnline; }),
    Counters("shift-counters", [](auto& s) -> auto& { return s.shiftCounters; }),
    Counters("total-counters", [](auto& s) -> auto& { return s.totalCounters; }),
    Scalar("cash", [](auto& s) -> auto& { return s.cash; }),
    Scalar("shift-cash-in", [](auto& s) -> auto& { return s.shiftCashIn; }),
    Scalar("shift-cash-out", [](auto& s) -> auto& { return s.shiftCashOut; }),
    Scalar("shift-cash-operations", [](auto& s) -> auto& { return s.shiftCashOperations; }),
    Scalar("drawer-openings", [](auto& s) -> auto& { return s.drawerOpenings; }),
    Scalar("receipt-settings", [](auto& s) -> auto& { return s.receiptSettings; }),
    Scalar("cashier", [](auto& s) -> auto& { return s.cashier; }),
    {"last-error",
     [](Writer& out, const DeviceState& s) {
         out.Line("last-error", std::to_string(s.lastErrorCode) + ' ' + EscapeText(s.lastErrorText));
     },
     [](const Words& w, DeviceState& s) {
         return Number(w[1], s.lastErrorCode) && UnescapeText(w.After(2), s.lastErrorText);
     }},
    Scalar("paper-out", [](auto& s) -> auto& { return s.paperOut; }),
    Scalar("cover-open", [](auto& s) -> auto& { return s.coverOpen; }),
    Scalar("clock-offset", [](auto& s) -> auto& { return s.clockOffset; }),
    {"open-kind",
     [](Writer& out, const DeviceState& s) { out.Line("open-kind", ValueText(static_cast<uint8_t>(s.document.kind))); },
     [](const Words& w, DeviceState& s) {
         uint8_t kind = 0;
         if (!Byte(w[1], kind, 4)) return false;
         s.document.kind = static_cast<DocumentKind>(kind);
         return true;
     }},
    Scalar("open-mode", [](auto& s) -> auto& { return s.document.mode; }, true),
    {"open-operation",
     [](Writer& out, const DeviceState& s) { out.Line("open-operation", ValueText(s.document.operation)); },
     [](const Words& w, DeviceState& s) { return Byte(w[1], s.document.operation, 4); }, true},
    Scalar("open-taxation", [](auto& s) -> auto& { return s.document.taxation; }, true),
    {"open-correction",
     [](Writer& out, const DeviceState& s) { out.Line("open-correction", CorrectionText(s.document)); },
     ReadCorrection, true},
    {"open-position",
     [](Writer& out, const DeviceState& s) {
         for (const auto& p : s.document.positions) {
             out.Line("open-position", PositionText(p));
             for (const auto& t : p.tags) out.Line("open-position-tag", TagText(t));
         }
     },
     ReadPosition, true},
    {"open-position-tag", nullptr,
     [](const Words& w, DeviceState& s) {
         return !s.document.positions.empty() && ReadTag(w, s.document.positions.back().tags);
     }},
    Tags("open-pending-tag", [](auto& s) -> auto& { return s.document.pendingTags; }),
    {"open-line",
     [](Writer& out, const DeviceState& s) {
         for (const auto& l : s.document.body) out.Line("open-line", EscapedLine(l));
     },
     [](const Words& w, DeviceState& s) { return ReadLine(w, s.document.body); }, true},
    {"doc",
     [](Writer& out, const DeviceState& s) {
         for (const auto& doc : s.journal) {
             out.Line("doc", DocumentText(doc));
             for (const auto& l : doc.lines) out.Line("doc-line", EscapedLine(l));
         }
     },
     ReadDocument},
    {"doc-line", nullptr,
     [](const Words& w, DeviceState& s) { return !s.journal.empty() && ReadLine(w, s.journal.back().lines); }},
};

const Field* FieldOf(std::string_view key) {
    for (const auto& f : kStateFields) {
        if (f.key == key) return &f;
    }
    return nullptr;
}

}  // namespace

std::string SerializeState(const DeviceState& s) {
    Writer out;
    for (const auto& f : kStateFields) {
        if (f.write && (!f.whileDocumentOpen || s.document.kind != DocumentKind::None)) f.write(out, s);
    }
    return std::string(kHeader) + '\n' + out.Take() + "end\n";
}

bool ParseState(std::string_view text, DeviceState& result, std::string& error) {
    DeviceState s;
    s.registration.attributes.clear();
    size_t lineNumber = 0;
    bool sawHeader = false, sawEnd = false;
    auto fail = [&](std::string_view what) {
        error = "state file line " + std::to_string(lineNumber) + ": " + std::string(what);
        return false;
    };
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!sawHeader) {
            if (line != kHeader) return fail("not a simulator state file");
            sawHeader = true;
            continue;
        }
        if (sawEnd) return fail("text after the end marker");
        const Words w(line);
        if (w[0] == "end") {
            sawEnd = true;
            continue;
        }
        const Field* field = FieldOf(w[0]);
        if (!field) return fail("unknown key");
        if (!field->read(w, s)) return fail("bad value");
    }
    if (!sawHeader) return fail("empty file");
    if (!sawEnd) return fail("the file ends before its end marker");
    result = std::move(s);
    return true;
}
bool SaveStateFile(const std::string& path, const DeviceState& state, std::string& error) {
    const std::string text = SerializeState(state);
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        error = "cannot flush " + temp + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool LoadStateFile(const std::string& path, DeviceState& state, bool& exists, std::string& error) {
    exists = false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return true;
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    exists = true;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        error = "cannot read " + path;
        return false;
    }
    if (!ParseState(text, state, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace vesklink::sim
