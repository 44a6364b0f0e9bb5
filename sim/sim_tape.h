// The paper tape: 40 columns of code page 866. Helpers that lay out the lines every printed
// document shares (amounts, dates, a label and its value, rules) and the names the register
// prints for operation types, VAT rates, taxation systems and fiscal attributes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim_state.h"

namespace vesklink::sim {

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
