// The logger's line format, levels and receipt block, written into the real log folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "log/logger.h"
#if !defined(_WIN32)
#include "support/temp_folder.h"
#endif

using namespace vesklink;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

#if defined(_WIN32)
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
#if !defined(_WIN32)
        ASSERT_FALSE(temp_.Path().empty());
        folder_ = temp_.Path();
        setenv("XDG_DOCUMENTS_DIR", folder_.c_str(), 1);
#endif
    }
#if !defined(_WIN32)
    vktest::TempFolder temp_{"vesklink-log"};
#endif
    std::string folder_;
};

TEST_F(LoggerTest, LevelsAndLineFormat) {
    Logger logger;
    ASSERT_FALSE(logger.FilePath().empty());
    std::remove(logger.FilePath().c_str());
    EXPECT_TRUE(logger.Log(u"Open error", Error));
    EXPECT_TRUE(logger.Log(u"a", Warning));
    EXPECT_TRUE(logger.Log(u"b", Debug));
    EXPECT_TRUE(logger.Log(u"c", 7));
    EXPECT_TRUE(logger.Log(u"Отмена зависшего чека", Info));
    const std::string ts = R"(\[\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\] )";
    const std::regex expected(ts + R"(\[Error\] Open error)" + kEol + ts + R"(\[Warning\] a)" + kEol + ts +
                              R"(\[Debug\] b)" + kEol + ts + R"(\[\] c)" + kEol + ts +
                              "\\[Info\\] Отмена зависшего чека" + kEol);
    const std::string log = Read(logger.FilePath());
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
    EXPECT_NE(logger.FilePath().find("VESKLINK"), std::string::npos);
    EXPECT_NE(logger.FilePath().find("vesklog-"), std::string::npos);
}

TEST_F(LoggerTest, ReceiptBlockKeepsThePackageAsItCame) {
    Logger logger;
    std::remove(logger.FilePath().c_str());
    EXPECT_TRUE(logger.LogReceiptBlock(u"<CheckPackage>\n<Positions/>\n</CheckPackage>"));
    const std::regex expected("---------------check begin--------------" + kEol +
                              R"(\[\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\])" + kEol +
                              "----------------------------------------" + kEol +
                              "<CheckPackage>" + kEol + "<Positions/>" + kEol + "</CheckPackage>" + kEol +
                              "---------------chek end-----------------" + kEol);
    const std::string log = Read(logger.FilePath());
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

#if !defined(_WIN32)
TEST_F(LoggerTest, UnresolvableFolderWritesNothing) {
    setenv("XDG_DOCUMENTS_DIR", "/nonexistent/vesklink/docs", 1);
    Logger logger;
    EXPECT_FALSE(logger.Log(u"lost", Info));
}

TEST_F(LoggerTest, DocumentsFolderResolution) {
    unsetenv("XDG_DOCUMENTS_DIR");
    const std::string config = folder_ + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("HOME", folder_.c_str(), 1);
    EXPECT_EQ(DocumentsFolder(), folder_ + "/Documents");  // no user-dirs.dirs
    std::system(("mkdir -p " + config).c_str());
    std::ofstream(config + "/user-dirs.dirs") << "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(DocumentsFolder(), folder_ + "/Dokumente");
    setenv("XDG_DOCUMENTS_DIR", "/srv/docs", 1);
    EXPECT_EQ(DocumentsFolder(), "/srv/docs");
    unsetenv("XDG_CONFIG_HOME");
}
#endif

}  // namespace
