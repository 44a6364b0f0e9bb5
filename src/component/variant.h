// Reading and writing host variants.
#pragma once

#include <cstdint>
#include <string>

#include "hostapi/addin_types.h"

namespace vesklink {

void SetBoolVariant(tVariant* variant, bool value);
void SetUInt32Variant(tVariant* variant, uint32_t value);
void SetInt32Variant(tVariant* variant, int32_t value);

// Host text up to its terminating zero; empty for none.
std::u16string HostText(const WCHAR_T* text);

// The text of a string variant (type 22); empty for any other type.
std::u16string VariantString(const tVariant& variant);

// Parameters the host passes as text but that are read without a type check: an integer variant
// is taken as its number in decimal, any other non-text variant as empty text.
std::u16string VariantTextLenient(const tVariant& variant);

// The integer value of an integer variant of any width; false for other types.
bool VariantInteger(const tVariant& variant, int64_t& value);

// A whole number as the host passes one: an integer as it is, a fractional number by its integer
// part (saturated at the 64-bit limits; NaN is none), text by its leading integer. False for other
// types.
bool VariantWholeNumber(const tVariant& variant, int64_t& value);

}  // namespace vesklink
