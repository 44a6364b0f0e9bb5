// The host's XML documents: reading them and writing the result documents in the one layout every
// method uses (declaration line, one tab per level, one node per line, final line feed).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace vesklink {

// pugixml works on wide characters; host text is UTF-16.
pugi::string_t ToXmlText(std::u16string_view text);
std::u16string FromXmlText(const pugi::char_t* text);

// Parses host text with the library's default options.
pugi::xml_parse_result ParseDocument(pugi::xml_document& document, std::u16string_view text);

// Serialises a result document. Without a declaration node of its own the document starts with
// the version 1.0 declaration line.
std::u16string SerializeDocument(const pugi::xml_document& document);

// OutputParameters/Parameters, the frame of the status and shift documents.
pugi::xml_node AppendOutputParameters(pugi::xml_document& document);

// Attribute values written by the component itself, independent of the process locale.
void AppendText(pugi::xml_node node, const char* name, std::u16string_view value);
void AppendFlag(pugi::xml_node node, const char* name, bool value);
void AppendSigned(pugi::xml_node node, const char* name, int64_t value);
void AppendUnsigned(pugi::xml_node node, const char* name, uint64_t value);
void AppendAmount(pugi::xml_node node, const char* name, double value);  // "%.17g"

// Reading the host's documents: a missing attribute is empty text, false or 0.
std::u16string AttributeText(pugi::xml_node node, const char* name);
bool HasAttribute(pugi::xml_node node, const char* name);
int AttributeInt(pugi::xml_node node, const char* name);
// An integer attribute the device takes as one byte: false when its value lies outside 0 to 255,
// where `value` would be another number than the host wrote.
bool AttributeByte(pugi::xml_node node, const char* name, uint8_t& value);
bool AttributeFlag(pugi::xml_node node, const char* name);
pugi::xml_node Child(pugi::xml_node node, const char* name);
// Element name compared without regard to case (the kinds of receipt and document lines).
bool NameIs(pugi::xml_node node, std::u16string_view name);

}  // namespace vesklink
