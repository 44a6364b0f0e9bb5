// Text and number conversions that must not depend on the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "util/text.h"
#include "util/xml.h"

using namespace vesklink;

namespace {

// Switches the process to a comma-decimal locale for the test when the machine has one.
class CommaLocale {
public:
    CommaLocale() {
        for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "ru_RU", "Russian_Russia.1251", "German_Germany.1252"}) {
            if (std::setlocale(LC_ALL, name)) {
                active_ = true;
                break;
            }
        }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool active() const { return active_; }

private:
    bool active_ = false;
};

TEST(Text, LeadingIntegerRule) {
    EXPECT_EQ(LeadingInteger64(u"  -42abc"), -42);
    EXPECT_EQ(LeadingInteger64(u"+7"), 7);
    EXPECT_EQ(LeadingInteger64(u"COM1"), 0);
    EXPECT_EQ(LeadingInteger64(u""), 0);
    EXPECT_EQ(LeadingInteger64(u"- 5"), 0);
    EXPECT_EQ(LeadingInteger64(u"9223372036854775807"), INT64_MAX);
    EXPECT_EQ(LeadingInteger64(u"99999999999999999999"), INT64_MAX);
    EXPECT_EQ(LeadingInteger64(u"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(LeadingInteger64(u"-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(LeadingInteger32(u"123456789012"), INT32_MAX);
    EXPECT_EQ(LeadingInteger32(u"-123456789012"), INT32_MIN);
    EXPECT_EQ(LeadingInteger32(u"\t\n 15 "), 15);
}

TEST(Text, NumbersIgnoreTheProcessLocale) {
    CommaLocale locale;
#if !defined(_WIN32)
    ASSERT_TRUE(locale.active()) << "scripts/install-deps.sh generates ru_RU.UTF-8";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.2f", 1.5);
    ASSERT_STREQ(buf, "1,50");  // the C library does follow the locale
#endif
    EXPECT_EQ(FormatDouble17g(123.13), "123.13");
    EXPECT_EQ(FormatDouble17g(12313 * 0.01), "123.13000000000001");
    EXPECT_EQ(FormatDouble17g(0.1), "0.10000000000000001");
    EXPECT_EQ(FormatDouble17g(12.5), "12.5");
    EXPECT_EQ(FormatDouble17g(1500), "1500");
    EXPECT_EQ(FormatDouble17g(1005 * 0.01), "10.050000000000001");
    EXPECT_EQ(FormatDoubleFixed6(100.5), "100.500000");
    EXPECT_EQ(FormatDoubleFixed6(-20.5), "-20.500000");
    EXPECT_EQ(DecimalText(-15), u"-15");
    EXPECT_EQ(DecimalTextUnsigned(18446744073709551615ull), u"18446744073709551615");
}

TEST(Text, Utf8RoundTripAndMalformedInput) {
    const std::u16string text = u"Итого: 15 ₽ \U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"Ё"), "\xD0\x81");
    // A lone surrogate never produces malformed UTF-8.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD");
}

TEST(Text, CaseInsensitiveNames) {
    EXPECT_TRUE(EqualsIgnoreCase(u"FiscalString", u"fiscalstring"));
    EXPECT_TRUE(EqualsIgnoreCase(u"NONE", u"none"));
    EXPECT_FALSE(EqualsIgnoreCase(u"Barcode", u"Barcodes"));
}

TEST(Xml, SerialisedLayout) {
    CommaLocale locale;
    pugi::xml_document document;
    pugi::xml_node parameters =
        document.append_child(PUGIXML_TEXT("OutputParameters")).append_child(PUGIXML_TEXT("Parameters"));
    AppendAmount(parameters, "Amount", 12313 * 0.01);
    AppendFlag(parameters, "Flag", true);
    AppendSigned(parameters, "Number", -3);
    AppendText(parameters, "Text", u"a<b & \"c\"");
    EXPECT_EQ(SerializeDocument(document),
              u"<?xml version=\"1.0\"?>\n<OutputParameters>\n\t<Parameters Amount=\"123.13000000000001\" "
              u"Flag=\"true\" Number=\"-3\" Text=\"a&lt;b &amp; &quot;c&quot;\" />\n</OutputParameters>\n");
}

TEST(Xml, ReadingMissingValues) {
    pugi::xml_document document;
    ASSERT_TRUE(ParseDocument(document, u"<R><P A=\"12\" B=\"yes\" C=\"\" /></R>"));
    pugi::xml_node p = Child(document.document_element(), "P");
    EXPECT_EQ(AttributeInt(p, "A"), 12);
    EXPECT_EQ(AttributeInt(p, "Z"), 0);
    EXPECT_TRUE(AttributeFlag(p, "B"));
    EXPECT_FALSE(AttributeFlag(p, "Z"));
    EXPECT_TRUE(HasAttribute(p, "C"));
    EXPECT_FALSE(HasAttribute(p, "Z"));
    EXPECT_EQ(AttributeText(p, "Z"), u"");
    EXPECT_FALSE(ParseDocument(document, u"<R><P></R>"));
}

// A character reference stands for its character or makes the document unreadable; it never
// becomes another character (the library keeps 32 bits: &#x110032; would end up as "2").
TEST(Xml, CharacterReferencesBeyondUnicodeMakeTheDocumentUnreadable) {
    struct Case {
        const char16_t* value;
        const char16_t* read;  // nullptr: the document is refused
    };
    for (const Case& c : {Case{u"&#x41;&#1025;", u"AЁ"}, Case{u"&#x10FFFF;", u"\U0010FFFF"},
                          Case{u"&#x1F600;", u"\U0001F600"}, Case{u"&#x110032;", nullptr},
                          Case{u"&#1114112;", nullptr}, Case{u"&#x100000030;", nullptr},
                          Case{u"&#0;5", nullptr}, Case{u"1&#x;&#X110000;&#x110000", u"1&#x;&#X110000;&#x110000"}}) {
        pugi::xml_document document;
        const std::u16string xml = std::u16string(u"<R Q=\"") + c.value + u"\">" + c.value + u"</R>";
        const bool read = ParseDocument(document, xml);
        EXPECT_EQ(read, c.read != nullptr) << Utf16ToUtf8(c.value);
        if (!read) {
            EXPECT_FALSE(document.document_element()) << "nothing of a refused document is kept";
            continue;
        }
        EXPECT_EQ(AttributeText(document.document_element(), "Q"), c.read);
        EXPECT_EQ(FromXmlText(document.document_element().child_value()), c.read);
    }
}

TEST(Xml, ByteAttributesRefuseWhatDoesNotFit) {
    pugi::xml_document document;
    ASSERT_TRUE(ParseDocument(document, u"<R A=\"255\" B=\"256\" C=\"-1\" D=\"99999999999\" />"));
    const pugi::xml_node r = document.document_element();
    uint8_t value = 0;
    EXPECT_TRUE(AttributeByte(r, "A", value));
    EXPECT_EQ(value, 255);
    EXPECT_TRUE(AttributeByte(r, "Missing", value));
    EXPECT_EQ(value, 0);
    for (const char* name : {"B", "C", "D"}) EXPECT_FALSE(AttributeByte(r, name, value)) << name;
}

}  // namespace
