// GetDescription, GetParameters, GetAdditionalActions: the driver's description, its settings
// form and its (empty) list of additional actions.
#include "operations/operations.h"
#include "util/text.h"
#include "util/xml.h"

namespace vesklink {

std::u16string BuildDescription() {
    pugi::xml_document document;
    pugi::xml_node node = document.append_child(PUGIXML_TEXT("DriverDescription"));
    AppendText(node, "Name", u"VESKLINK");
    AppendText(node, "Description", u"Драйвер для работы с VESK");
    AppendText(node, "EquipmentType", u"ККТ");
    AppendFlag(node, "IntegrationComponent", false);
    AppendFlag(node, "MainDriverInstalled", false);
    AppendText(node, "DriverVersion", DriverVersion);
    AppendText(node, "IntegrationComponentVersion", DriverVersion);
    AppendText(node, "DownloadURL", u"https://");
    AppendFlag(node, "LogIsEnabled", true);
    AppendText(node, "LogPath", u"");
    return SerializeDocument(document);
}

namespace {

pugi::xml_node AppendParameter(pugi::xml_node group, const char16_t* name, const char16_t* caption,
                               const char16_t* defaultValue) {
    pugi::xml_node parameter = group.append_child(PUGIXML_TEXT("Parameter"));
    AppendText(parameter, "Name", name);
    AppendText(parameter, "Caption", caption);
    AppendText(parameter, "TypeValue", u"String");
    AppendText(parameter, "DefaultValue", defaultValue);
    return parameter.append_child(PUGIXML_TEXT("ChoiceList"));
}

void AppendItem(pugi::xml_node list, const std::u16string& text, const std::u16string& value) {
    pugi::xml_node item = list.append_child(PUGIXML_TEXT("Item"));
    item.text().set(ToXmlText(text).c_str());
    AppendText(item, "Value", value);
}

}  // namespace

std::u16string BuildSettingsForm() {
    pugi::xml_document document;
    pugi::xml_node page = document.append_child(PUGIXML_TEXT("Settings")).append_child(PUGIXML_TEXT("Page"));
    AppendText(page, "Caption", u"Параметры");
    pugi::xml_node group = page.append_child(PUGIXML_TEXT("Group"));
    AppendText(group, "Caption", u"Параметры подключения");

    pugi::xml_node ports = AppendParameter(group, u"Port", u"Порт", u"COM1");
    for (int n = 1; n <= 64; ++n) AppendItem(ports, u"COM" + DecimalText(n), DecimalText(n));

    pugi::xml_node speeds = AppendParameter(group, u"Speed", u"Скорость", u"57600");
    for (const char16_t* speed : {u"9600", u"19200", u"38400", u"57600"}) AppendItem(speeds, speed, speed);
    return SerializeDocument(document);
}

int32_t PortFromSettingText(std::u16string_view text) {
    constexpr std::u16string_view kPrefix = u"COM";
    if (text.size() >= kPrefix.size() && EqualsIgnoreCase(text.substr(0, kPrefix.size()), kPrefix))
        text.remove_prefix(kPrefix.size());
    return LeadingInteger32(text);
}

std::u16string BuildActions() {
    pugi::xml_document document;
    document.append_child(PUGIXML_TEXT("Actions"));
    return SerializeDocument(document);
}

}  // namespace vesklink
