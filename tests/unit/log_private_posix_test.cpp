// The log and the files beside it are the user's alone on Linux, whatever the umask; what exists
// already keeps its mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "log/logger.h"
#include "support/temp_folder.h"

using namespace vesklink;

namespace {

unsigned Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class PrivateLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        documents_ = folder_.Path();
        setenv("XDG_DOCUMENTS_DIR", documents_.c_str(), 1);
        umask_ = ::umask(0);  // the laxest umask: the modes must come from the driver itself
    }
    void TearDown() override { ::umask(umask_); }
    vktest::TempFolder folder_{"vesklink-private"};
    std::string documents_;
    mode_t umask_ = 0;
};

TEST_F(PrivateLog, NewFolderAndFilesAreTheUsersAlone) {
    Logger logger;
    ASSERT_TRUE(logger.Log(u"Init", Info));
    EXPECT_EQ(Mode(documents_ + "/VESKLINK"), 0700u);
    EXPECT_EQ(Mode(logger.FilePath()), 0600u);

    const std::string beside = logger.PathBeside("COM3.state");
    EXPECT_EQ(beside, documents_ + "/VESKLINK/COM3.state");
    for (const char* mode : {"w", "ab", "w+"}) {
        std::remove(beside.c_str());
        std::FILE* file = OpenPrivateFile(beside, mode);
        ASSERT_NE(file, nullptr) << mode;
        EXPECT_EQ(std::fputs("x", file), 1) << mode;
        std::fclose(file);
        EXPECT_EQ(Mode(beside), 0600u) << mode;
    }
    // Reading creates nothing; an unknown mode opens nothing.
    EXPECT_EQ(OpenPrivateFile(documents_ + "/VESKLINK/absent", "r"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(documents_ + "/VESKLINK/absent"));
    EXPECT_EQ(OpenPrivateFile(beside, "q"), nullptr);
}

TEST_F(PrivateLog, ExistingFolderAndFileKeepTheirModes) {
    ASSERT_EQ(::mkdir((documents_ + "/VESKLINK").c_str(), 0750), 0);
    std::string path;
    {
        Logger first;
        path = first.FilePath();
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    Logger logger;
    ASSERT_TRUE(logger.Log(u"Init", Info));
    EXPECT_EQ(Mode(documents_ + "/VESKLINK"), 0750u);
    EXPECT_EQ(Mode(path), 0640u);
}

}  // namespace
