// The record file of an unsettled receipt: a small UTF-8 XML document beside the log. The package
// travels as Base64 of its UTF-16 units, so the retry is compared with exactly the text the host
// passed (line ends, characters XML cannot hold and all).
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <UnsettledReceipt Port="3" Method="ProcessCheck" Electronic="false" Time="2024-03-07T14:05:09"
//                     LastDocumentNumber="41">
//       <Package>PABDAGgAZQBjAGsA...</Package>
//   </UnsettledReceipt>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/logger.h"
#include "operations/unsettled_receipt.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLargestRecord = 64u << 20;  // a package is never near this; a foreign file may be
constexpr char16_t kSale[] = u"ProcessCheck", kCorrection[] = u"ProcessCorrectionCheck";

// The UTF-16 units as little-endian byte pairs, in standard Base64 with padding.
std::string UnitsToBase64(std::u16string_view text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out.push_back(k <= bytes.size() - i ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return out;
}

// The strict reverse: any other character, a length that is no multiple of four, padding
// anywhere but at the end or an odd number of bytes gives nothing.
std::optional<std::u16string> UnitsFromBase64(std::u16string_view text) {
    if (text.size() % 4 != 0) return {};
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        size_t padding = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char16_t c = text[i + k];
            const char* at = c < 0x80 && c != 0 ? std::strchr(kAlphabet, static_cast<char>(c)) : nullptr;
            if (c == u'=' && i + 4 == text.size() && k >= 2) {
                ++padding;
            } else if (!at || padding > 0) {
                return {};
            }
            group = (group << 6) | static_cast<uint32_t>(at ? at - kAlphabet : 0);
        }
        for (size_t k = 0; k < 3 - padding; ++k) bytes.push_back(static_cast<char>((group >> (16 - 8 * k)) & 0xFF));
    }
    if (bytes.size() % 2 != 0) return {};
    std::u16string units;
    for (size_t i = 0; i < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    return units;
}

class Utf8Writer final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text;
};

std::string RecordText(const UnsettledReceipt& record) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute(PUGIXML_TEXT("version")) = PUGIXML_TEXT("1.0");
    declaration.append_attribute(PUGIXML_TEXT("encoding")) = PUGIXML_TEXT("UTF-8");
    pugi::xml_node root = document.append_child(PUGIXML_TEXT("UnsettledReceipt"));
    AppendUnsigned(root, "Port", record.Port);
    AppendText(root, "Method", record.Correction ? kCorrection : kSale);
    AppendFlag(root, "Electronic", record.Electronic);
    AppendText(root, "Time", Widen(record.Time));
    if (record.LastDocumentBefore) AppendUnsigned(root, "LastDocumentNumber", *record.LastDocumentBefore);
    root.append_child(PUGIXML_TEXT("Package")).text() = ToXmlText(Widen(UnitsToBase64(record.Package))).c_str();
    Utf8Writer writer;
    document.save(writer, PUGIXML_TEXT("\t"), pugi::format_default, pugi::encoding_utf8);
    return writer.text;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Decimal digits only, no sign, no blank, within 64 bits.
std::optional<uint64_t> Digits(std::u16string_view text) {
    if (text.empty() || text.size() > 19) return {};
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return {};
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    return value;
}

std::optional<UnsettledReceipt> ParseRecord(const std::string& text, uint32_t port, std::string& problem) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        problem = std::string("not XML: ") + parsed.description();
        return {};
    }
    const pugi::xml_node root = document.document_element();
    const std::u16string method = AttributeText(root, "Method"), electronic = AttributeText(root, "Electronic");
    const std::optional<std::u16string> package =
        UnitsFromBase64(FromXmlText(Child(root, "Package").text().get()));
    if (FromXmlText(root.name()) != u"UnsettledReceipt" || (method != kSale && method != kCorrection) ||
        (electronic != u"true" && electronic != u"false") || !package) {
        problem = "not a record of an unsettled receipt";
        return {};
    }
    if (Digits(AttributeText(root, "Port")) != port) {
        problem = "the record of another port (" + Utf16ToUtf8(AttributeText(root, "Port")) + ")";
        return {};
    }
    UnsettledReceipt record{method == kCorrection, electronic == u"true", *package, port,
                            Utf16ToUtf8(AttributeText(root, "Time")), {}};
    if (HasAttribute(root, "LastDocumentNumber")) {
        record.LastDocumentBefore = Digits(AttributeText(root, "LastDocumentNumber"));
        if (!record.LastDocumentBefore) {
            problem = "not a record of an unsettled receipt";
            return {};
        }
    }
    return record;
}

}  // namespace

std::string UnsettledReceiptName(uint32_t port) { return "unsettled-COM" + std::to_string(port) + ".xml"; }

std::string WriteUnsettledReceiptFile(const std::string& path, const UnsettledReceipt& record) {
    const std::string text = RecordText(record);
    const std::string partial = path + ".partial";
    std::FILE* file = OpenPrivateFile(partial, "wb");
    if (!file) return SystemError("cannot create " + partial);
    // Handed to the system whole before it takes the record's name: a process ended at any moment
    // leaves the whole record or none.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    std::string problem = written ? std::string() : SystemError("cannot write " + partial);
    if (std::fclose(file) != 0 && problem.empty()) problem = SystemError("cannot write " + partial);
    if (problem.empty()) {
        const std::string reason = PutFileInPlace(partial, path);
        if (reason.empty()) return {};
        problem = "cannot put " + partial + " in place: " + reason;
    }
    RemoveFile(partial);
    return problem;
}

std::optional<UnsettledReceipt> ReadUnsettledReceiptFile(const std::string& path, uint32_t port,
                                                         std::string& problem) {
    problem.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errno != ENOENT) problem = SystemError("cannot open");
        return {};
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while (text.size() <= kLargestRecord && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        errno = error;
        problem = SystemError("cannot read");
    } else if (text.size() > kLargestRecord) {
        problem = "too large for a record";
    } else if (text.empty()) {
        problem = "empty";
    } else {
        return ParseRecord(text, port, problem);
    }
    return {};
}

std::string RemoveUnsettledReceiptFile(const std::string& path) {
    const std::string reason = RemoveFile(path);
    return reason.empty() ? reason : "cannot remove " + path + ": " + reason;
}

}  // namespace vesklink
