#include "util/xml.h"

#include "util/text.h"

namespace vesklink {

namespace {

// Element and attribute names are ASCII literals; widen them for the wide-character build.
pugi::string_t Name(const char* name) {
    pugi::string_t out;
    for (const char* p = name; *p; ++p) out.push_back(static_cast<pugi::char_t>(static_cast<unsigned char>(*p)));
    return out;
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(pugi::string_t& out) : out_(out) {}
    void write(const void* data, size_t size) override {
        out_.append(static_cast<const pugi::char_t*>(data), size / sizeof(pugi::char_t));
    }

private:
    pugi::string_t& out_;
};

// The XML library reads a character reference into 32 bits without a range check: &#x110032; is
// kept as a code point no text can hold (and cut to "2" on the way to UTF-16), and
// &#x100000030; wraps to "0". &#0; would end the value early. A document holding such a
// reference is refused as unreadable, wherever it stands. The reference syntax is the library's:
// "&#x" and hexadecimal digits or "&#" and decimal digits, then ";". Returns the position of the
// first such reference, or npos.
size_t ReferenceOutOfRange(std::u16string_view text) {
    constexpr uint32_t kLargest = 0x10FFFF;
    for (size_t at = text.find(u"&#"); at != std::u16string_view::npos; at = text.find(u"&#", at + 1)) {
        size_t i = at + 2;
        const bool hex = i < text.size() && text[i] == u'x';
        if (hex) ++i;
        uint32_t value = 0;
        bool beyond = false;
        size_t digits = 0;
        for (; i < text.size(); ++i, ++digits) {
            const char16_t c = text[i];
            uint32_t digit = 0;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (hex && (c | 0x20) >= u'a' && (c | 0x20) <= u'f')
                digit = (c | 0x20) - u'a' + 10;
            else
                break;
            value = value * (hex ? 16 : 10) + digit;
            if (value > kLargest) {
                beyond = true;
                value = kLargest + 1;  // stays beyond: no later digit can bring it back
            }
        }
        if (digits > 0 && i < text.size() && text[i] == u';' && (beyond || value == 0)) return at;
    }
    return std::u16string_view::npos;
}

}  // namespace

pugi::string_t ToXmlText(std::u16string_view text) {
    pugi::string_t out;
    out.reserve(text.size());
    if constexpr (sizeof(pugi::char_t) == 2) {
        for (char16_t c : text) out.push_back(static_cast<pugi::char_t>(c));
    } else {
        for (size_t i = 0; i < text.size(); ++i) out.push_back(static_cast<pugi::char_t>(NextCodePoint(text, i)));
    }
    return out;
}

std::u16string FromXmlText(const pugi::char_t* text) {
    std::u16string out;
    if (!text) return out;
    for (const pugi::char_t* p = text; *p; ++p) {
        const uint32_t cp = static_cast<uint32_t>(*p);
        // Beyond U+10FFFF there is no UTF-16 form; never cut to another character.
        AppendCodePoint(out, cp <= 0x10FFFF ? cp : 0xFFFD);
    }
    return out;
}

pugi::xml_parse_result ParseDocument(pugi::xml_document& document, std::u16string_view text) {
    pugi::xml_parse_result refused;
    const size_t at = ReferenceOutOfRange(text);
    if (at != std::u16string_view::npos) {
        document.reset();
        refused.status = pugi::status_bad_pcdata;
        refused.offset = static_cast<ptrdiff_t>(at);
        return refused;
    }
    const pugi::string_t wide = ToXmlText(text);
    return document.load_string(wide.c_str());
}

std::u16string SerializeDocument(const pugi::xml_document& document) {
    pugi::string_t out;
    StringWriter writer(out);
    document.save(writer, PUGIXML_TEXT("\t"), pugi::format_default, pugi::encoding_wchar);
    return FromXmlText(out.c_str());
}

pugi::xml_node AppendOutputParameters(pugi::xml_document& document) {
    return document.append_child(PUGIXML_TEXT("OutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
}

void AppendText(pugi::xml_node node, const char* name, std::u16string_view value) {
    node.append_attribute(Name(name).c_str()).set_value(ToXmlText(value).c_str());
}

void AppendFlag(pugi::xml_node node, const char* name, bool value) {
    AppendText(node, name, value ? u"true" : u"false");
}

void AppendSigned(pugi::xml_node node, const char* name, int64_t value) {
    AppendText(node, name, DecimalText(value));
}

void AppendUnsigned(pugi::xml_node node, const char* name, uint64_t value) {
    AppendText(node, name, DecimalTextUnsigned(value));
}

void AppendAmount(pugi::xml_node node, const char* name, double value) {
    AppendText(node, name, Widen(FormatDouble17g(value)));
}

std::u16string AttributeText(pugi::xml_node node, const char* name) {
    return FromXmlText(node.attribute(Name(name).c_str()).value());
}

bool HasAttribute(pugi::xml_node node, const char* name) {
    return static_cast<bool>(node.attribute(Name(name).c_str()));
}

int AttributeInt(pugi::xml_node node, const char* name) {
    return node.attribute(Name(name).c_str()).as_int();
}

bool AttributeByte(pugi::xml_node node, const char* name, uint8_t& value) {
    const int number = AttributeInt(node, name);
    value = static_cast<uint8_t>(number);
    return number >= 0 && number <= 0xFF;
}

bool AttributeFlag(pugi::xml_node node, const char* name) {
    return node.attribute(Name(name).c_str()).as_bool();
}

pugi::xml_node Child(pugi::xml_node node, const char* name) {
    return node.child(Name(name).c_str());
}

bool NameIs(pugi::xml_node node, std::u16string_view name) {
    return EqualsIgnoreCase(FromXmlText(node.name()), name);
}

}  // namespace vesklink
