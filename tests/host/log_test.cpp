// The dated log file as the platform's user finds it.
#include <regex>

#include "support/host_fixture.h"

using namespace vktest;

namespace {

const char* const kEol = kLogEol;

class LogFile : public HostFixture {};

TEST_F(LogFile, LinesAppearAtTheDocumentedPathInTheDocumentedFormat) {
    const std::string path = TodayLogPath();
    RemoveFile(path);
    vk_variant v;
    vk_variant_set_int(&v, 3);
    ASSERT_TRUE(vk_set_prop_val(component_, 0, &v));
    const std::string log = ReadFile(path);
    const std::regex line(std::string(R"(^\[)") + Today() + R"( \d\d-\d\d-\d\d\] \[Info\] Set Portnumber 3)" + kEol + "$");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
}

TEST_F(LogFile, CyrillicIsUtf8WithoutByteOrderMarkAndTheFileIsRecreated) {
    const std::string path = TodayLogPath();
    Params p(&memory_, 2);
    p.Str(0, "Speed").Int(1, 1);
    EXPECT_FALSE(CallBool("SetParameter", p));
    std::string log = ReadFile(path);
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(log.find(std::string("[Error] Неверный тип одного из параметров, должена быть строка") + kEol),
              std::string::npos);

    // Deleting the file between two lines: the next line recreates it with only that line.
    RemoveFile(path);
    vk_variant v;
    vk_variant_set_empty(&v);
    ASSERT_TRUE(vk_get_prop_val(component_, 1, &v));
    log = ReadFile(path);
    EXPECT_EQ(log.find("[Info] Get PortSpeed 57600"), 22u) << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1);
}

TEST_F(LogFile, InitLogsAndConstructionDoesNot) {
    const std::string path = TodayLogPath();
    RemoveFile(path);
    void* other = nullptr;
    ASSERT_NE(library_.get_class_object(nullptr, &other), 0);
    EXPECT_EQ(ReadFile(path), "");  // construction writes nothing
    vk_connection connection;
    vk_connection_init(&connection);
    EXPECT_TRUE(vk_init(other, &connection));
    EXPECT_NE(ReadFile(path).find(std::string("] [Info] Init") + kEol), std::string::npos);
    RemoveFile(path);
    EXPECT_EQ(library_.destroy_object(&other), 0);
    EXPECT_EQ(ReadFile(path), "");  // destruction writes nothing
}

}  // namespace
