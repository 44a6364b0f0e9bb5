// The names the host looks the component's methods and properties up by: each has an English and
// a Russian name, found exactly and case-sensitively, the English tried first.
#pragma once

#include <cstddef>
#include <string_view>

namespace vesklink {

struct HostName {
    const char16_t* English;
    const char16_t* Russian;
};

enum Property : long { PortProperty = 0, SpeedProperty = 1, kPropertyCount = 2 };
inline constexpr HostName PropertyNames[kPropertyCount] = {{u"Port", u"Порт"}, {u"Speed", u"Скорость"}};

inline constexpr char16_t ExtensionName[] = u"vesklink";
// The one component class the library offers (GetClassNames). The equipment library's driver
// card names the component by it: "AddIn." followed by the class name.
inline constexpr char16_t ClassName[] = u"CAddInNative";
inline constexpr long InterfaceRevision = 3003;

// The index of the entry that bears the name, or -1.
template <typename Entry, size_t N>
long FindName(std::u16string_view name, const Entry (&table)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (name == table[i].English) return static_cast<long>(i);
    for (size_t i = 0; i < N; ++i)
        if (name == table[i].Russian) return static_cast<long>(i);
    return -1;
}

}  // namespace vesklink
