// vesklink-driver-card OUTPUT: writes INFO.XML, the driver card the equipment library reads from
// the add-in package (identifier, name, version and equipment type). Every value comes from the
// driver itself, the class name and the description that GetDescription answers, so the card
// cannot say another version or type than the libraries beside it.
#include <cstdio>
#include <string>

#include "component/names.h"
#include "operations/operations.h"
#include "util/text.h"
#include "util/xml.h"

using namespace vesklink;

namespace {

bool BuildCard(pugi::xml_document& card, std::string& error) {
    pugi::xml_document description;
    if (!ParseDocument(description, BuildDescription())) {
        error = "the driver's description is not well-formed";
        return false;
    }
    const pugi::xml_node driver = description.child(PUGIXML_TEXT("DriverDescription"));
    pugi::xml_node declaration = card.append_child(pugi::node_declaration);
    AppendText(declaration, "version", u"1.0");
    AppendText(declaration, "encoding", u"UTF-8");
    pugi::xml_node component = card.append_child(PUGIXML_TEXT("drivers")).append_child(PUGIXML_TEXT("component"));
    AppendText(component, "progid", u"AddIn." + std::u16string(ClassName));
    // The card's attribute and the description's attribute it is taken from.
    const std::pair<const char*, const char*> fields[] = {
        {"name", "Name"}, {"version", "DriverVersion"}, {"type", "EquipmentType"}};
    for (const auto& [name, source] : fields) {
        const std::u16string value = AttributeText(driver, source);
        if (value.empty()) {
            error = std::string("the driver's description has no ") + source;
            return false;
        }
        AppendText(component, name, value);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vesklink-driver-card OUTPUT\n");
        return 2;
    }
    pugi::xml_document card;
    std::string error;
    if (!BuildCard(card, error)) {
        std::fprintf(stderr, "vesklink-driver-card: %s\n", error.c_str());
        return 1;
    }
    if (!card.save_file(argv[1], PUGIXML_TEXT("\t"), pugi::format_default, pugi::encoding_utf8)) {
        std::fprintf(stderr, "vesklink-driver-card: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
