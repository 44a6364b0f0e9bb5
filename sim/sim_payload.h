// What every command handler of the register shares: the payload reader, the reply writer, the
// two ways a handler answers, and the paper tape's layout (sim_tape.cpp). Internal to the
// register's files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "sim_cp866.h"
#include "sim_device.h"

namespace vesklink::sim {

using Bytes = std::vector<uint8_t>;

// UTF-8 literal to register text.
inline std::string C(std::string_view utf8) { return Cp866FromUtf8(utf8); }

// Reply data under construction.
class Out {
public:
    Out& U8(unsigned v) {
        data_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Out& Le(uint64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < 8 ? (v >> (8 * i)) & 0xFF : 0));
        return *this;
    }
    // Text cut to the width or filled up to it.
    Out& Fixed(std::string_view text, size_t width, char fill = '\0') {
        for (size_t i = 0; i < width; ++i) data_.push_back(static_cast<uint8_t>(i < text.size() ? text[i] : fill));
        return *this;
    }
    // Bytes as they are: a date and time, an attribute's value.
    Out& Raw(const auto& bytes) {
        data_.insert(data_.end(), std::begin(bytes), std::end(bytes));
        return *this;
    }
    Bytes Take() { return std::move(data_); }

private:
    Bytes data_;
};

// Payload reader; any read past the end sets the failure flag and yields zeros.
class In {
public:
    explicit In(const Bytes& p) : p_(p) {}
    uint64_t Le(size_t width) {
        uint64_t v = 0;
        const std::string bytes = Span(width);
        for (size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<uint8_t>(bytes[i]);
        return v;
    }
    uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
    std::string Span(size_t n) {
        if (pos_ + n > p_.size()) {
            ok_ = false;
            pos_ = p_.size();
            return {};
        }
        const auto at = p_.begin() + static_cast<std::ptrdiff_t>(pos_);
        pos_ += n;
        return std::string(at, at + static_cast<std::ptrdiff_t>(n));
    }
    // A fixed-width text field; the text ends at its first zero byte.
    std::string Fixed(size_t n) { return UpToZero(Span(n)); }
    // A 16-bit count and that many bytes.
    std::string Counted() { return Span(static_cast<size_t>(Le(2))); }
    size_t Remaining() const { return p_.size() - pos_; }
    bool Ok() const { return ok_; }
    bool Done() const { return ok_ && pos_ == p_.size(); }

private:
    const Bytes& p_;
    size_t pos_ = 0;
    bool ok_ = true;
};

inline Reply Fail(uint16_t code) { return {code, {}, false}; }
inline Reply Ok(Bytes data, bool changed) { return {kOk, std::move(data), changed}; }

// The time of a document of the journal; zeros when there is none.
inline DeviceTime DocumentTime(const DeviceState& s, uint32_t number) {
    DeviceTime time{};
    for (const auto& d : s.journal) {
        if (d.number == number) time = d.time;
    }
    return time;
}

inline std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// INN of a company or a person: 10 or 12 digits.
bool ValidInn(std::string_view inn);

// The paper tape: 40 columns of code page 866. The lines every printed document shares (amounts,
// dates, a label and its value, rules) and the names the register prints for operation types, VAT
// rates, taxation systems and fiscal attributes.
using Lines = std::vector<std::string>;

std::string Money(int64_t hundredths);  // "-12.05"
std::string Quantity(uint64_t thousandths);  // "1.500"
std::string DateText(const DeviceTime& t);  // "07.03.24 09:05"
std::string Center(std::string_view text);
std::string Rule(char c = '-');
// Long text broken into lines of 40, each indented by indent blanks.
void Wrap(Lines& out, std::string_view text, size_t indent = 0);
// A label on the left and a value on the right; on two lines when they do not fit on one.
void Both(Lines& out, std::string_view left, std::string_view right);

std::string OperationName(uint8_t operation);  // 0 sale .. 3 return of purchase
std::string VatName(uint8_t code);  // 1..6
std::string TaxationName(uint8_t bit);  // one bit of the taxation systems
void PrintTags(Lines& out, const std::vector<FiscalTag>& tags, size_t indent);

}  // namespace vesklink::sim
