#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/exception.hpp"
#include "platform/base/stream.hpp"

using platform::TFileStream;
namespace fs = std::filesystem;

namespace {

class OpenRegularFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/stream_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    std::string Dir;
};

} // namespace

TEST_F(OpenRegularFile, OnlyRegularFilesOpen)
{
    {
        std::ofstream(Dir + "/1.png", std::ios::binary) << "png bytes";
    }
    fs::create_directory(Dir + "/2.png");
    ASSERT_EQ(::mkfifo((Dir + "/3.png").c_str(), 0600), 0);
    fs::create_symlink(Dir + "/1.png", Dir + "/4.png");
    fs::create_symlink(Dir + "/none.png", Dir + "/5.png");

    struct Case {
        std::string Name;
        bool Opens;
    } cases[] = {
        {"1.png", true},    // a file
        {"2.png", false},   // a folder of that name
        {"3.png", false},   // a pipe: must not wait for a writer
        {"4.png", true},    // a link to a file
        {"5.png", false},   // a dangling link
        {"6.png", false},   // nothing
        {"1.png/x", false}, // a file used as a folder
        {"", false},
    };
    for (const Case& c : cases) {
        auto stream = TFileStream::OpenRegularFile(c.Name.empty() ? c.Name : Dir + "/" + c.Name);
        EXPECT_EQ(stream != nullptr, c.Opens) << c.Name;
        if (stream) {
            EXPECT_EQ(stream->Size(), 9);
            std::string got(9, '\0');
            EXPECT_EQ(stream->Read(got.data(), got.size()), 9u);
            EXPECT_EQ(got, "png bytes");
        }
    }
}

TEST_F(OpenRegularFile, UnreadableFileThrowsLikeTheConstructor)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const std::string name = Dir + "/1.png";
    {
        std::ofstream(name) << "x";
    }
    ASSERT_EQ(::chmod(name.c_str(), 0), 0);
    try {
        (void)TFileStream::OpenRegularFile(name);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + name + "\". ", 0), 0u) << e.what();
    }
}
