#include "sim_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include "sim_cp866.h"

namespace vesklink::sim {
namespace {

constexpr std::string_view kHeader = "vesklink-sim state 1";

void SetFlagAttribute(Registration& r, uint16_t tag, bool value) {
    r.attributes[tag] = std::string(1, value ? '\x01' : '\x00');
}

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out.empty() ? "-" : out;
}

bool Unhex(std::string_view text, std::string& out) {
    out.clear();
    if (text == "-") return true;
    if (text.size() % 2) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

// Register text (code page 866) as readable UTF-8; control characters and "%" are escaped so
// that one value always stays on one line.
std::string EscapeText(std::string_view cp866) {
    std::string out;
    for (char c : Utf8FromCp866(cp866)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '%') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeText(std::string_view text, std::string& cp866) {
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            utf8 += text[i];
            continue;
        }
        std::string byte;
        if (i + 2 >= text.size()) return false;
        if (!Unhex(text.substr(i + 1, 2), byte)) return false;
        utf8 += byte;
        i += 2;
    }
    cp866 = Cp866FromUtf8(utf8);
    return true;
}

std::string TimeHex(const DeviceTime& t) {
    return Hex(std::string_view(reinterpret_cast<const char*>(t.data()), t.size()));
}

template <size_t N>
std::string ArrayHex(const std::array<uint8_t, N>& a) {
    return Hex(std::string_view(reinterpret_cast<const char*>(a.data()), a.size()));
}

template <size_t N>
bool ArrayUnhex(std::string_view text, std::array<uint8_t, N>& a) {
    std::string bytes;
    if (!Unhex(text, bytes) || bytes.size() != N) return false;
    for (size_t i = 0; i < N; ++i) a[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

void WriteCounters(std::ostringstream& out, std::string_view key, const std::array<TypeCounters, 4>& all) {
    for (size_t k = 0; k < 4; ++k) {
        const auto& c = all[k];
        out << key << ' ' << (k + 1) << ' ' << c.count << ' ' << c.amount << ' ' << c.correctionCount << ' '
            << c.correctionAmount;
        for (auto v : c.payments) out << ' ' << v;
        for (auto v : c.vat) out << ' ' << v;
        out << '\n';
    }
}

void WriteTags(std::ostringstream& out, std::string_view key, const std::vector<FiscalTag>& tags) {
    for (const auto& t : tags) out << key << ' ' << t.tag << ' ' << Hex(t.value) << '\n';
}

// A line split into words at blanks.
class Words {
public:
    explicit Words(std::string_view line) : line_(line) {
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ') ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && line[j] != ' ') ++j;
            starts_.push_back(i);
            words_.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    size_t size() const { return words_.size(); }
    std::string_view operator[](size_t i) const { return i < words_.size() ? words_[i] : std::string_view(); }
    // The raw text after the first n words and the single blank that follows them: a text value
    // keeps its leading blanks.
    std::string_view After(size_t n) const {
        if (n == 0 || n > words_.size()) return {};
        const size_t at = starts_[n - 1] + words_[n - 1].size() + 1;
        return at < line_.size() ? line_.substr(at) : std::string_view();
    }

private:
    std::string_view line_;
    std::vector<std::string_view> words_;
    std::vector<size_t> starts_;
};

template <typename T>
bool Number(std::string_view text, T& out) {
    if (text.empty()) return false;
    bool negative = false;
    size_t i = 0;
    if (text[0] == '-') {
        negative = true;
        i = 1;
        if (text.size() == 1) return false;
    }
    unsigned long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    out = negative ? static_cast<T>(-static_cast<long long>(value)) : static_cast<T>(value);
    return true;
}

bool ReadCounters(const Words& w, std::array<TypeCounters, 4>& all) {
    size_t k = 0;
    if (w.size() != 17 || !Number(w[1], k) || k < 1 || k > 4) return false;
    auto& c = all[k - 1];
    bool ok = Number(w[2], c.count) && Number(w[3], c.amount) && Number(w[4], c.correctionCount) &&
              Number(w[5], c.correctionAmount);
    for (size_t i = 0; i < 5; ++i) ok = ok && Number(w[6 + i], c.payments[i]);
    for (size_t i = 0; i < 6; ++i) ok = ok && Number(w[11 + i], c.vat[i]);
    return ok;
}

bool ReadTag(const Words& w, std::vector<FiscalTag>& tags) {
    FiscalTag t;
    if (w.size() != 3 || !Number(w[1], t.tag) || !Unhex(w[2], t.value)) return false;
    tags.push_back(std::move(t));
    return true;
}

}  // namespace

DeviceTime ToDeviceTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {static_cast<uint8_t>(tm.tm_year % 100), static_cast<uint8_t>(tm.tm_mon + 1),
            static_cast<uint8_t>(tm.tm_mday), static_cast<uint8_t>(tm.tm_hour), static_cast<uint8_t>(tm.tm_min)};
}

DeviceState NewDeviceState(bool registered, int64_t now) {
    DeviceState s;
    s.receiptSettings = {0x00, 0x00, 0x01, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    s.cashier.fill(0);
    s.cashier[0] = 0x01;
    const std::string name = Cp866FromUtf8("Администратор");
    for (size_t i = 0; i < name.size() && i < 64; ++i) s.cashier[3 + i] = static_cast<uint8_t>(name[i]);
    s.lastErrorText = Cp866FromUtf8("Ошибок нет");
    if (!registered) {
        s.registered = false;
        s.modeByte = 0;
        s.fnState = 1;
        return s;
    }
    auto& r = s.registration;
    r.time = ToDeviceTime(now);
    r.kktNumber = "0000000001012345";
    r.inn = "7701234567";
    r.taxation = 0x03;
    r.reason = 1;
    r.documentNumber = 1;
    auto text = [&](uint16_t tag, const char* utf8) { r.attributes[tag] = Cp866FromUtf8(utf8); };
    text(1048, "ООО \"ВЕСК-ТЕСТ\"");
    text(1018, "7701234567");
    text(1009, "г. Москва, ул. Тестовая, д. 1");
    text(1187, "Торговый зал");
    text(1046, "ООО \"ОФД-ТЕСТ\"");
    text(1017, "7709876543");
    text(1060, "www.nalog.gov.ru");
    text(1117, "kassa@example.ru");
    text(1036, "");
    r.attributes[1037] = r.kktNumber;
    for (uint16_t tag : {1221, 1110, 1108, 1001, 1002, 1056, 1109, 1207, 1193, 1126}) SetFlagAttribute(r, tag, false);
    r.attributes[1057] = std::string(1, '\0');
    r.attributes[1062] = std::string(1, static_cast<char>(r.taxation));
    r.attributes[1209] = std::string(1, '\x02');

    Document doc;
    doc.number = 1;
    doc.type = kDocRegistration;
    doc.time = r.time;
    doc.fiscalSign = 1234567890u;
    doc.lines = {Cp866FromUtf8("ОТЧЕТ О РЕГИСТРАЦИИ")};
    s.journal.push_back(doc);
    s.lastDocumentNumber = 1;
    s.lastSentDocument = 1;
    return s;
}

std::string SerializeState(const DeviceState& s) {
    std::ostringstream out;
    out << kHeader << '\n';
    out << "registered " << s.registered << '\n';
    out << "mode " << unsigned(s.modeByte) << '\n';
    out << "fn-state " << unsigned(s.fnState) << '\n';
    out << "fn-warnings " << unsigned(s.fnWarnings) << '\n';
    out << "fn-serial " << EscapeText(s.fnSerial) << '\n';
    out << "kkt-serial " << EscapeText(s.kktSerial) << '\n';
    out << "ffd " << unsigned(s.ffdCode) << '\n';
    const auto& r = s.registration;
    out << "reg-time " << TimeHex(r.time) << '\n';
    out << "reg-kkt-number " << EscapeText(r.kktNumber) << '\n';
    out << "reg-inn " << EscapeText(r.inn) << '\n';
    out << "reg-taxation " << unsigned(r.taxation) << '\n';
    out << "reg-agent-types " << unsigned(r.agentTypes) << '\n';
    out << "reg-reason " << unsigned(r.reason) << '\n';
    out << "reg-modes " << unsigned(r.operatingModes) << '\n';
    out << "reg-document " << r.documentNumber << '\n';
    for (const auto& [tag, value] : r.attributes) out << "reg-attr " << tag << ' ' << Hex(value) << '\n';
    out << "shift-open " << s.shiftOpen << '\n';
    out << "shift-number " << s.shiftNumber << '\n';
    out << "shift-receipts " << s.shiftReceiptNumber << '\n';
    out << "shift-opened-at " << s.shiftOpenedAt << '\n';
    out << "last-document " << s.lastDocumentNumber << '\n';
    out << "last-sent " << s.lastSentDocument << '\n';
    out << "ofd-online " << s.ofdOnline << '\n';
    WriteCounters(out, "shift-counters", s.shiftCounters);
    WriteCounters(out, "total-counters", s.totalCounters);
    out << "cash " << s.cash << '\n';
    out << "shift-cash-in " << s.shiftCashIn << '\n';
    out << "shift-cash-out " << s.shiftCashOut << '\n';
    out << "shift-cash-operations " << s.shiftCashOperations << '\n';
    out << "drawer-openings " << s.drawerOpenings << '\n';
    out << "receipt-settings " << ArrayHex(s.receiptSettings) << '\n';
    out << "cashier " << ArrayHex(s.cashier) << '\n';
    out << "last-error " << s.lastErrorCode << ' ' << EscapeText(s.lastErrorText) << '\n';
    out << "paper-out " << s.paperOut << '\n';
    out << "cover-open " << s.coverOpen << '\n';
    out << "clock-offset " << s.clockOffset << '\n';

    const auto& d = s.document;
    out << "open-kind " << unsigned(d.kind) << '\n';
    if (d.kind != DocumentKind::None) {
        out << "open-mode " << d.mode << '\n';
        out << "open-operation " << unsigned(d.operation) << '\n';
        out << "open-taxation " << unsigned(d.taxation) << '\n';
        out << "open-correction " << unsigned(d.correctionType) << ' ' << d.correctionHasDate << ' '
            << ArrayHex(d.correctionDate) << ' ' << Hex(d.correctionDescription) << ' ' << Hex(d.correctionNumber)
            << '\n';
        for (const auto& p : d.positions) {
            out << "open-position " << unsigned(p.flags) << ' ' << unsigned(p.paymentMethod) << ' '
                << unsigned(p.subject) << ' ' << unsigned(p.vat) << ' ' << Hex(p.country) << ' ' << p.quantity << ' '
                << p.price << ' ' << p.excise << ' ' << p.amount << ' ' << Hex(p.name) << '\n';
            WriteTags(out, "open-position-tag", p.tags);
        }
        WriteTags(out, "open-pending-tag", d.pendingTags);
        for (const auto& line : d.body) out << "open-line " << EscapeText(line) << '\n';
    }
    for (const auto& doc : s.journal) {
        out << "doc " << doc.number << ' ' << unsigned(doc.type) << ' ' << TimeHex(doc.time) << ' ' << doc.fiscalSign
            << '\n';
        for (const auto& line : doc.lines) out << "doc-line " << EscapeText(line) << '\n';
    }
    out << "end\n";
    return out.str();
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
    size_t pos = 0;
    while (pos < text.size()) {
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
        const std::string_view key = w[0];
        const std::string_view v = w[1];
        const std::string_view rest = w.After(1);
        bool ok = true;
        unsigned u = 0;
        if (key == "end") {
            sawEnd = true;
        } else if (key == "registered") {
            ok = Number(v, s.registered);
        } else if (key == "mode") {
            ok = Number(v, u) && u < 256;
            s.modeByte = static_cast<uint8_t>(u);
        } else if (key == "fn-state") {
            ok = Number(v, u) && u < 256;
            s.fnState = static_cast<uint8_t>(u);
        } else if (key == "fn-warnings") {
            ok = Number(v, u) && u < 256;
            s.fnWarnings = static_cast<uint8_t>(u);
        } else if (key == "fn-serial") {
            ok = UnescapeText(rest, s.fnSerial);
        } else if (key == "kkt-serial") {
            ok = UnescapeText(rest, s.kktSerial);
        } else if (key == "ffd") {
            ok = Number(v, u) && u < 256;
            s.ffdCode = static_cast<uint8_t>(u);
        } else if (key == "reg-time") {
            ok = ArrayUnhex(v, s.registration.time);
        } else if (key == "reg-kkt-number") {
            ok = UnescapeText(rest, s.registration.kktNumber);
        } else if (key == "reg-inn") {
            ok = UnescapeText(rest, s.registration.inn);
        } else if (key == "reg-taxation") {
            ok = Number(v, u) && u < 256;
            s.registration.taxation = static_cast<uint8_t>(u);
        } else if (key == "reg-agent-types") {
            ok = Number(v, u) && u < 256;
            s.registration.agentTypes = static_cast<uint8_t>(u);
        } else if (key == "reg-reason") {
            ok = Number(v, u) && u < 256;
            s.registration.reason = static_cast<uint8_t>(u);
        } else if (key == "reg-modes") {
            ok = Number(v, u) && u < 256;
            s.registration.operatingModes = static_cast<uint8_t>(u);
        } else if (key == "reg-document") {
            ok = Number(v, s.registration.documentNumber);
        } else if (key == "reg-attr") {
            uint16_t tag = 0;
            std::string value;
            ok = w.size() == 3 && Number(v, tag) && Unhex(w[2], value);
            if (ok) s.registration.attributes[tag] = value;
        } else if (key == "shift-open") {
            ok = Number(v, s.shiftOpen);
        } else if (key == "shift-number") {
            ok = Number(v, s.shiftNumber);
        } else if (key == "shift-receipts") {
            ok = Number(v, s.shiftReceiptNumber);
        } else if (key == "shift-opened-at") {
            ok = Number(v, s.shiftOpenedAt);
        } else if (key == "last-document") {
            ok = Number(v, s.lastDocumentNumber);
        } else if (key == "last-sent") {
            ok = Number(v, s.lastSentDocument);
        } else if (key == "ofd-online") {
            ok = Number(v, s.ofdOnline);
        } else if (key == "shift-counters") {
            ok = ReadCounters(w, s.shiftCounters);
        } else if (key == "total-counters") {
            ok = ReadCounters(w, s.totalCounters);
        } else if (key == "cash") {
            ok = Number(v, s.cash);
        } else if (key == "shift-cash-in") {
            ok = Number(v, s.shiftCashIn);
        } else if (key == "shift-cash-out") {
            ok = Number(v, s.shiftCashOut);
        } else if (key == "shift-cash-operations") {
            ok = Number(v, s.shiftCashOperations);
        } else if (key == "drawer-openings") {
            ok = Number(v, s.drawerOpenings);
        } else if (key == "receipt-settings") {
            ok = ArrayUnhex(v, s.receiptSettings);
        } else if (key == "cashier") {
            ok = ArrayUnhex(v, s.cashier);
        } else if (key == "last-error") {
            ok = Number(v, s.lastErrorCode) && UnescapeText(w.After(2), s.lastErrorText);
        } else if (key == "paper-out") {
            ok = Number(v, s.paperOut);
        } else if (key == "cover-open") {
            ok = Number(v, s.coverOpen);
        } else if (key == "clock-offset") {
            ok = Number(v, s.clockOffset);
        } else if (key == "open-kind") {
            ok = Number(v, u) && u <= 3;
            s.document.kind = static_cast<DocumentKind>(u);
        } else if (key == "open-mode") {
            ok = Number(v, s.document.mode);
        } else if (key == "open-operation") {
            ok = Number(v, u) && u < 4;
            s.document.operation = static_cast<uint8_t>(u);
        } else if (key == "open-taxation") {
            ok = Number(v, u) && u < 256;
            s.document.taxation = static_cast<uint8_t>(u);
        } else if (key == "open-correction") {
            auto& d = s.document;
            ok = w.size() == 6 && Number(v, u) && u < 256 && Number(w[2], d.correctionHasDate) &&
                 ArrayUnhex(w[3], d.correctionDate) && Unhex(w[4], d.correctionDescription) &&
                 Unhex(w[5], d.correctionNumber);
            d.correctionType = static_cast<uint8_t>(u);
        } else if (key == "open-position") {
            Position p;
            unsigned flags = 0, method = 0, subject = 0, vat = 0;
            ok = w.size() == 11 && Number(w[1], flags) && Number(w[2], method) && Number(w[3], subject) &&
                 Number(w[4], vat) && Unhex(w[5], p.country) && Number(w[6], p.quantity) && Number(w[7], p.price) &&
                 Number(w[8], p.excise) && Number(w[9], p.amount) && Unhex(w[10], p.name) && flags < 256 &&
                 method < 256 && subject < 256 && vat < 256;
            p.flags = static_cast<uint8_t>(flags);
            p.paymentMethod = static_cast<uint8_t>(method);
            p.subject = static_cast<uint8_t>(subject);
            p.vat = static_cast<uint8_t>(vat);
            if (ok) s.document.positions.push_back(std::move(p));
        } else if (key == "open-position-tag") {
            ok = !s.document.positions.empty() && ReadTag(w, s.document.positions.back().tags);
        } else if (key == "open-pending-tag") {
            ok = ReadTag(w, s.document.pendingTags);
        } else if (key == "open-line") {
            std::string l;
            ok = UnescapeText(rest, l);
            s.document.body.push_back(l);
        } else if (key == "doc") {
            Document doc;
            unsigned type = 0;
            ok = w.size() == 5 && Number(v, doc.number) && Number(w[2], type) && type < 256 &&
                 ArrayUnhex(w[3], doc.time) && Number(w[4], doc.fiscalSign);
            doc.type = static_cast<uint8_t>(type);
            if (ok) s.journal.push_back(std::move(doc));
        } else if (key == "doc-line") {
            std::string l;
            ok = !s.journal.empty() && UnescapeText(rest, l);
            if (ok) s.journal.back().lines.push_back(l);
        } else {
            return fail("unknown key");
        }
        if (!ok) return fail("bad value");
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
