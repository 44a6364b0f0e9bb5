// The description, settings-form and actions documents, byte for byte, and how they reach the host.
#include "support/host_fixture.h"

using namespace vktest;

namespace {

class Documents : public HostFixture {};

std::string ExpectedSettings() {
    std::string s =
        "<?xml version=\"1.0\"?>\n"
        "<Settings>\n"
        "\t<Page Caption=\"Параметры\">\n"
        "\t\t<Group Caption=\"Параметры подключения\">\n"
        "\t\t\t<Parameter Name=\"Port\" Caption=\"Порт\" TypeValue=\"String\" DefaultValue=\"COM1\">\n"
        "\t\t\t\t<ChoiceList>\n";
    for (int n = 1; n <= 64; ++n)
        s += "\t\t\t\t\t<Item Value=\"" + std::to_string(n) + "\">COM" + std::to_string(n) + "</Item>\n";
    s += "\t\t\t\t</ChoiceList>\n"
         "\t\t\t</Parameter>\n"
         "\t\t\t<Parameter Name=\"Speed\" Caption=\"Скорость\" TypeValue=\"String\" DefaultValue=\"57600\">\n"
         "\t\t\t\t<ChoiceList>\n"
         "\t\t\t\t\t<Item Value=\"9600\">9600</Item>\n"
         "\t\t\t\t\t<Item Value=\"19200\">19200</Item>\n"
         "\t\t\t\t\t<Item Value=\"38400\">38400</Item>\n"
         "\t\t\t\t\t<Item Value=\"57600\">57600</Item>\n"
         "\t\t\t\t</ChoiceList>\n"
         "\t\t\t</Parameter>\n"
         "\t\t</Group>\n"
         "\t</Page>\n"
         "</Settings>\n";
    return s;
}

TEST_F(Documents, DescriptionLeavesTheResultVariantAlone) {
    Params p(&memory_, 1);
    vk_variant result;
    vk_variant_set_int(&result, 77);
    ASSERT_TRUE(vk_call_as_func(component_, Method("GetDescription"), &result, p.data(), p.size()));
    EXPECT_EQ(result.vt, VK_I4);
    EXPECT_EQ(result.value.lVal, 77);
    EXPECT_EQ(p.Text(0),
              "<?xml version=\"1.0\"?>\n"
              "<DriverDescription Name=\"VESKLINK\" Description=\"Драйвер для работы с VESK\" "
              "EquipmentType=\"ККТ\" IntegrationComponent=\"false\" MainDriverInstalled=\"false\" "
              "DriverVersion=\"1.94\" IntegrationComponentVersion=\"1.94\" DownloadURL=\"https://\" "
              "LogIsEnabled=\"true\" LogPath=\"\" />\n");
    // The length the component reports matches the text it wrote.
    EXPECT_EQ(p[0].value.wstr.wstrLen, vk_wcslen(p[0].value.wstr.pwstrVal));
    EXPECT_NE(ReadFile(TodayLogPath())
                  .find(std::string("[Info] Description is<?xml version=\"1.0\"?>") + kLogEol + "<DriverDescription"),
              std::string::npos);
}

TEST_F(Documents, SettingsFormIsByteExact) {
    Params p(&memory_, 1);
    EXPECT_TRUE(CallBool("GetParameters", p));
    const std::string text = p.Text(0);
    EXPECT_EQ(text, ExpectedSettings());
    size_t items = 0;
    for (size_t at = text.find("<Item "); at != std::string::npos; at = text.find("<Item ", at + 1)) ++items;
    EXPECT_EQ(items, 68u);
}

TEST_F(Documents, ActionsDocumentIsEmpty) {
    Params p(&memory_, 1);
    EXPECT_TRUE(CallBool("GetAdditionalActions", p));
    EXPECT_EQ(p.Text(0), "<?xml version=\"1.0\"?>\n<Actions />\n");
}

TEST_F(Documents, RefusedHandOverFailsWithTheFailureLine) {
    memory_.refuse_after = memory_.allocations;
    Params p(&memory_, 1);
    EXPECT_FALSE(CallBool("GetParameters", p));
    EXPECT_EQ(p[0].vt, VK_EMPTY);
    EXPECT_FALSE(CallBool("GetAdditionalActions", p));
    const std::string log = ReadFile(TodayLogPath());
    EXPECT_NE(log.find("[Error] GetParameters error"), std::string::npos);
    EXPECT_NE(log.find("[Error] GetAdditionalActions"), std::string::npos);
    // GetDescription goes on as if the hand-over had worked.
    EXPECT_TRUE(Call("GetDescription", p));
    EXPECT_EQ(p[0].vt, VK_EMPTY);
}

}  // namespace
