#include "component/variant.h"

#include <cmath>

#include "util/text.h"

namespace vesklink {

void SetBoolVariant(tVariant* variant, bool value) {
    variant->vt = VTYPE_BOOL;
    variant->value.bVal = value;
}

void SetUInt32Variant(tVariant* variant, uint32_t value) {
    variant->vt = VTYPE_UI4;
    variant->value.ulVal = value;
}

void SetInt32Variant(tVariant* variant, int32_t value) {
    variant->vt = VTYPE_I4;
    variant->value.lVal = value;
}

std::u16string HostText(const WCHAR_T* text) {
    return text ? std::u16string(text, text + std::char_traits<WCHAR_T>::length(text)) : std::u16string();
}

std::u16string VariantString(const tVariant& variant) {
    if (variant.vt != VTYPE_PWSTR || !variant.value.wstr.pwstrVal) return {};
    const WCHAR_T* text = variant.value.wstr.pwstrVal;
    return std::u16string(text, text + variant.value.wstr.wstrLen);
}

bool VariantInteger(const tVariant& variant, int64_t& value) {
    switch (variant.vt) {
        case VTYPE_I1: value = variant.value.i8Val; return true;
        case VTYPE_I2: value = variant.value.shortVal; return true;
        case VTYPE_I4: value = variant.value.lVal; return true;
        case VTYPE_INT: value = variant.value.intVal; return true;
        case VTYPE_UI1: value = variant.value.ui8Val; return true;
        case VTYPE_UI2: value = variant.value.ushortVal; return true;
        case VTYPE_UI4: value = variant.value.ulVal; return true;
        case VTYPE_UINT: value = variant.value.uintVal; return true;
        case VTYPE_I8: value = variant.value.llVal; return true;
        case VTYPE_UI8:
            // Above the signed range it saturates, as the narrower types' conversions do.
            value = variant.value.ullVal > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX
                                                                           : static_cast<int64_t>(variant.value.ullVal);
            return true;
        default: return false;
    }
}

bool VariantWholeNumber(const tVariant& variant, int64_t& value) {
    if (VariantInteger(variant, value)) return true;
    if (variant.vt == VTYPE_PWSTR) {
        value = LeadingInteger64(VariantString(variant));
        return true;
    }
    if (variant.vt != VTYPE_R8 && variant.vt != VTYPE_R4) return false;
    const double whole = std::trunc(variant.vt == VTYPE_R8 ? variant.value.dblVal : variant.value.fltVal);
    if (std::isnan(whole)) return false;
    if (whole >= 9223372036854775808.0)
        value = INT64_MAX;
    else if (whole < -9223372036854775808.0)
        value = INT64_MIN;
    else
        value = static_cast<int64_t>(whole);
    return true;
}

std::u16string VariantTextLenient(const tVariant& variant) {
    if (variant.vt == VTYPE_PWSTR) return VariantString(variant);
    int64_t number = 0;
    if (VariantInteger(variant, number)) return DecimalText(number);
    return {};
}

}  // namespace vesklink
