// The state file: one "key value" line per field, in the order of the field table below, between
// the header line and the end marker. One row of the table both writes a field and reads it back,
// so a new field is one row. Values are decimal numbers, bytes in hex ("-" for none) and register
// text as escaped UTF-8.
#include <algorithm>
#include <cerrno>
#include <concepts>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <tuple>
#include <unistd.h>

#include "sim_parse.h"
#include "sim_state.h"

namespace vesklink::sim {
namespace {

constexpr std::string_view kHeader = "vesklink-sim state 1";

// A byte field: a decimal number below the limit.
template <typename T>
bool Byte(std::string_view text, T& out, unsigned limit = 256) {
    unsigned u = 0;
    if (!Number(text, u) || u >= limit) return false;
    out = static_cast<T>(u);
    return true;
}

// A line split into words at blanks.
class Words {
public:
    explicit Words(std::string_view line) : line_(line), words_(SplitWords(line, " ")) {}
    size_t size() const { return words_.size(); }
    std::string_view operator[](size_t i) const { return i < words_.size() ? words_[i] : std::string_view(); }
    // The raw text after the first n words and the single blank that follows them: a text value
    // keeps its leading blanks.
    std::string_view After(size_t n) const {
        if (n == 0 || n > words_.size()) return {};
        const std::string_view last = words_[n - 1];
        const size_t at = static_cast<size_t>(last.data() - line_.data()) + last.size() + 1;
        return at < line_.size() ? line_.substr(at) : std::string_view();
    }

private:
    std::string_view line_;
    WordList words_;
};

// One word of a value: a number, or bytes in hex; a list of numbers is a word each. Read takes
// the value from the words from i on and moves i past them.
std::string Word(std::integral auto v) { return std::to_string(v); }
std::string Word(DocumentKind v) { return Word(static_cast<uint8_t>(v)); }
std::string Word(std::string_view bytes) { return bytes.empty() ? "-" : Hex(bytes); }
template <size_t N>
std::string Word(const std::array<uint8_t, N>& a) {
    return Word(std::string_view(reinterpret_cast<const char*>(a.data()), a.size()));
}
template <std::integral T, size_t N>
std::string Word(const std::array<T, N>& a) {
    std::string text = Word(a[0]);
    for (size_t i = 1; i < N; ++i) text += ' ' + Word(a[i]);
    return text;
}

bool Read(const Words& w, size_t& i, uint8_t& v) { return Byte(w[i++], v); }
bool Read(const Words& w, size_t& i, DocumentKind& v) { return Byte(w[i++], v, 4); }
bool Read(const Words& w, size_t& i, std::integral auto& v) { return Number(w[i++], v); }
bool Read(const Words& w, size_t& i, std::string& bytes) { return Unhex(w[i++], bytes); }
template <size_t N>
bool Read(const Words& w, size_t& i, std::array<uint8_t, N>& a) {
    std::string bytes;
    if (!Unhex(w[i++], bytes) || bytes.size() != N) return false;
    for (size_t k = 0; k < N; ++k) a[k] = static_cast<uint8_t>(bytes[k]);
    return true;
}
template <std::integral T, size_t N>
bool Read(const Words& w, size_t& i, std::array<T, N>& a) {
    return std::all_of(a.begin(), a.end(), [&](T& v) { return Read(w, i, v); });
}

// A record: several values on one line, in the order of the members, and nothing else on the line.
template <typename T, typename... M>
std::string RecordText(const T& item, const std::tuple<M T::*...>& members) {
    std::string text;
    auto add = [&](const auto& value) { text += (text.empty() ? "" : " ") + Word(value); };
    std::apply([&](auto... m) { (add(item.*m), ...); }, members);
    return text;
}

template <typename T, typename... M>
bool ReadRecord(const Words& w, size_t i, T& item, const std::tuple<M T::*...>& members) {
    const bool read = std::apply([&](auto... m) { return (Read(w, i, item.*m) && ...); }, members);
    return read && i == w.size();
}

// The members of each record, in the order of their words.
const std::tuple kTag{&FiscalTag::tag, &FiscalTag::value};
const std::tuple kPosition{&Position::flags,    &Position::paymentMethod, &Position::subject,
                           &Position::vat,      &Position::country,       &Position::quantity,
                           &Position::price,    &Position::excise,        &Position::amount,
                           &Position::name};
const std::tuple kCorrection{&OpenDocument::correctionType, &OpenDocument::correctionHasDate,
                             &OpenDocument::correctionDate, &OpenDocument::correctionDescription,
                             &OpenDocument::correctionNumber};
const std::tuple kDocument{&Document::number, &Document::type, &Document::time, &Document::fiscalSign};
const std::tuple kCounters{&TypeCounters::count,           &TypeCounters::amount,
                           &TypeCounters::correctionCount, &TypeCounters::correctionAmount,
                           &TypeCounters::payments,        &TypeCounters::vat};

void Put(std::string& out, std::string_view key, std::string_view value) {
    out.append(key).append(1, ' ').append(value).append(1, '\n');
}

struct Field {
    std::string_view key;
    // Writes the field's lines; empty for lines that the row before writes with its own.
    std::function<void(std::string&, const DeviceState&)> write;
    std::function<bool(const Words&, DeviceState&)> read;
    bool whileDocumentOpen = false;  // written only while a document is being built
};

// The lines of a field: one value, or one line per item of a list; register text is kept as
// escaped UTF-8. A position is followed by its attributes, a journal document by its printed
// lines. Reading takes one line: a value, or an item appended to the list.
void PutValue(std::string& out, std::string_view key, const std::string& cp866) {
    Put(out, key, EscapeText(cp866));
}
void PutValue(std::string& out, std::string_view key, const auto& v) { Put(out, key, Word(v)); }
void PutValue(std::string& out, std::string_view key, const FiscalTag& t) {
    Put(out, key, RecordText(t, kTag));
}
void PutValue(std::string& out, std::string_view key, const OpenDocument& d) {
    Put(out, key, RecordText(d, kCorrection));
}
void PutValue(std::string& out, std::string_view key, const Position& p) {
    Put(out, key, RecordText(p, kPosition));
    for (const auto& t : p.tags) PutValue(out, "open-position-tag", t);
}
void PutValue(std::string& out, std::string_view key, const Document& doc) {
    Put(out, key, RecordText(doc, kDocument));
    for (const auto& l : doc.lines) PutValue(out, "doc-line", l);
}
template <typename T>
void PutValue(std::string& out, std::string_view key, const std::vector<T>& list) {
    for (const auto& item : list) PutValue(out, key, item);
}
void PutValue(std::string& out, std::string_view key, const std::map<uint16_t, std::string>& attrs) {
    for (const auto& [tag, value] : attrs) PutValue(out, key, FiscalTag{tag, value});
}
// The counters of the four operation types: the type, then every counter.
void PutValue(std::string& out, std::string_view key, const std::array<TypeCounters, 4>& counters) {
    for (size_t k = 0; k < 4; ++k) Put(out, key, Word(k + 1) + ' ' + RecordText(counters[k], kCounters));
}

bool ReadValue(const Words& w, std::string& cp866) { return UnescapeText(w.After(1), cp866); }
bool ReadValue(const Words& w, auto& v) {
    size_t i = 1;
    return Read(w, i, v);
}
bool ReadValue(const Words& w, FiscalTag& t) { return ReadRecord(w, 1, t, kTag); }
bool ReadValue(const Words& w, OpenDocument& d) { return ReadRecord(w, 1, d, kCorrection); }
bool ReadValue(const Words& w, Position& p) { return ReadRecord(w, 1, p, kPosition); }
bool ReadValue(const Words& w, Document& doc) { return ReadRecord(w, 1, doc, kDocument); }
template <typename T>
bool ReadValue(const Words& w, std::vector<T>& list) {
    T item;
    if (!ReadValue(w, item)) return false;
    list.push_back(std::move(item));
    return true;
}
bool ReadValue(const Words& w, std::map<uint16_t, std::string>& attrs) {
    FiscalTag t;
    if (!ReadValue(w, t)) return false;
    attrs[t.tag] = t.value;
    return true;
}
bool ReadValue(const Words& w, std::array<TypeCounters, 4>& counters) {
    size_t k = 0;
    return Number(w[1], k) && k >= 1 && k <= 4 && ReadRecord(w, 2, counters[k - 1], kCounters);
}

// A field; get gives its value in a state, const or not.
template <typename Get>
Field Row(std::string_view key, Get get, bool whileDocumentOpen = false) {
    return {key, [key, get](std::string& out, const DeviceState& s) { PutValue(out, key, get(s)); },
            [get](const Words& w, DeviceState& s) { return ReadValue(w, get(s)); }, whileDocumentOpen};
}

// Every field of the state file, in the order it is written.
const std::vector<Field> kStateFields = {
    Row("registered", [](auto& s) -> auto& { return s.registered; }),
    Row("mode", [](auto& s) -> auto& { return s.modeByte; }),
    Row("fn-state", [](auto& s) -> auto& { return s.fnState; }),
    Row("fn-warnings", [](auto& s) -> auto& { return s.fnWarnings; }),
    Row("fn-serial", [](auto& s) -> auto& { return s.fnSerial; }),
    Row("kkt-serial", [](auto& s) -> auto& { return s.kktSerial; }),
    Row("ffd", [](auto& s) -> auto& { return s.ffdCode; }),
    Row("reg-time", [](auto& s) -> auto& { return s.registration.time; }),
    Row("reg-kkt-number", [](auto& s) -> auto& { return s.registration.kktNumber; }),
    Row("reg-inn", [](auto& s) -> auto& { return s.registration.inn; }),
    Row("reg-taxation", [](auto& s) -> auto& { return s.registration.taxation; }),
    Row("reg-agent-types", [](auto& s) -> auto& { return s.registration.agentTypes; }),
    Row("reg-reason", [](auto& s) -> auto& { return s.registration.reason; }),
    Row("reg-modes", [](auto& s) -> auto& { return s.registration.operatingModes; }),
    Row("reg-document", [](auto& s) -> auto& { return s.registration.documentNumber; }),
    Row("reg-attr", [](auto& s) -> auto& { return s.registration.attributes; }),
    Row("shift-open", [](auto& s) -> auto& { return s.shiftOpen; }),
    Row("shift-number", [](auto& s) -> auto& { return s.shiftNumber; }),
    Row("shift-receipts", [](auto& s) -> auto& { return s.shiftReceiptNumber; }),
    Row("shift-opened-at", [](auto& s) -> auto& { return s.shiftOpenedAt; }),
    Row("last-document", [](auto& s) -> auto& { return s.lastDocumentNumber; }),
    Row("last-sent", [](auto& s) -> auto& { return s.lastSentDocument; }),
    Row("ofd-online", [](auto& s) -> auto& { return s.ofdOnline; }),
    Row("shift-counters", [](auto& s) -> auto& { return s.shiftCounters; }),
    Row("total-counters", [](auto& s) -> auto& { return s.totalCounters; }),
    Row("cash", [](auto& s) -> auto& { return s.cash; }),
    Row("shift-cash-in", [](auto& s) -> auto& { return s.shiftCashIn; }),
    Row("shift-cash-out", [](auto& s) -> auto& { return s.shiftCashOut; }),
    Row("shift-cash-operations", [](auto& s) -> auto& { return s.shiftCashOperations; }),
    Row("drawer-openings", [](auto& s) -> auto& { return s.drawerOpenings; }),
    Row("receipt-settings", [](auto& s) -> auto& { return s.receiptSettings; }),
    Row("cashier", [](auto& s) -> auto& { return s.cashier; }),
    {"last-error",
     [](std::string& out, const DeviceState& s) {
         Put(out, "last-error", std::to_string(s.lastErrorCode) + ' ' + EscapeText(s.lastErrorText));
     },
     [](const Words& w, DeviceState& s) {
         return Number(w[1], s.lastErrorCode) && UnescapeText(w.After(2), s.lastErrorText);
     }},
    Row("paper-out", [](auto& s) -> auto& { return s.paperOut; }),
    Row("cover-open", [](auto& s) -> auto& { return s.coverOpen; }),
    Row("clock-offset", [](auto& s) -> auto& { return s.clockOffset; }),
    Row("open-kind", [](auto& s) -> auto& { return s.document.kind; }),
    Row("open-mode", [](auto& s) -> auto& { return s.document.mode; }, true),
    {"open-operation",
     [](std::string& out, const DeviceState& s) {
         Put(out, "open-operation", Word(s.document.operation));
     },
     [](const Words& w, DeviceState& s) { return Byte(w[1], s.document.operation, 4); }, true},
    Row("open-taxation", [](auto& s) -> auto& { return s.document.taxation; }, true),
    // The correction fields of the open document.
    Row("open-correction", [](auto& s) -> auto& { return s.document; }, true),
    Row("open-position", [](auto& s) -> auto& { return s.document.positions; }, true),
    {"open-position-tag", nullptr,
     [](const Words& w, DeviceState& s) {
         return !s.document.positions.empty() && ReadValue(w, s.document.positions.back().tags);
     }},
    Row("open-pending-tag", [](auto& s) -> auto& { return s.document.pendingTags; }, true),
    Row("open-line", [](auto& s) -> auto& { return s.document.body; }, true),
    Row("doc", [](auto& s) -> auto& { return s.journal; }),
    {"doc-line", nullptr,
     [](const Words& w, DeviceState& s) {
         return !s.journal.empty() && ReadValue(w, s.journal.back().lines);
     }},
};

}  // namespace

std::string SerializeState(const DeviceState& s) {
    std::string out = std::string(kHeader) + '\n';
    for (const auto& f : kStateFields) {
        if (f.write && (!f.whileDocumentOpen || s.document.kind != DocumentKind::None)) f.write(out, s);
    }
    return out + "end\n";
}

bool ParseState(std::string_view text, DeviceState& result, std::string& error) {
    DeviceState s;
    size_t lineNumber = 0;
    bool sawEnd = false;
    auto fail = [&](std::string_view what) {
        error = "state file line " + std::to_string(lineNumber) + ": " + std::string(what);
        return false;
    };
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (++lineNumber == 1) {
            if (line != kHeader) return fail("not a simulator state file");
            continue;
        }
        if (sawEnd) return fail("text after the end marker");
        const Words w(line);
        sawEnd = w[0] == "end";
        if (sawEnd) continue;
        const auto field = std::find_if(kStateFields.begin(), kStateFields.end(),
                                        [&](const Field& f) { return f.key == w[0]; });
        if (field == kStateFields.end()) return fail("unknown key");
        if (!field->read(w, s)) return fail("bad value");
    }
    if (lineNumber == 0) return fail("empty file");
    if (!sawEnd) return fail("the file ends before its end marker");
    result = std::move(s);
    return true;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

int ReadWholeFile(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return errno;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    return readError ? -1 : 0;
}

bool SaveStateFile(const std::string& path, const DeviceState& state, std::string& error) {
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto fail = [&](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        if (fd >= 0) unlink(temp.c_str());
        return false;
    };
    if (fd < 0) return fail("cannot write " + temp);
    // The descriptor is closed on every path, so a disk that keeps refusing leaks none.
    const bool written = WriteAll(fd, SerializeState(state));
    if (!written || fsync(fd) != 0) {
        fail((written ? "cannot flush " : "cannot write ") + temp);
        close(fd);
        return false;
    }
    if (close(fd) != 0) return fail("cannot flush " + temp);
    if (rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace " + path);
    return true;
}

bool LoadStateFile(const std::string& path, DeviceState& state, bool& exists, std::string& error) {
    std::string text;
    const int e = ReadWholeFile(path, text);
    exists = e <= 0;
    if (e == ENOENT) return true;
    if (e != 0) {
        error = "cannot read " + path + (e > 0 ? std::string(": ") + std::strerror(e) : "");
        return false;
    }
    if (ParseState(text, state, error)) return true;
    error = path + ": " + error;
    return false;
}

}  // namespace vesklink::sim
