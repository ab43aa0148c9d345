#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/base/string_list.hpp"

using namespace platform;

namespace {

std::string ReadBytes(const std::string& AName)
{
    std::ifstream in(AName, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& AName, const std::string& ABytes)
{
    std::ofstream out(AName, std::ios::binary | std::ios::trunc);
    out << ABytes;
}

class StringListFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDir = std::filesystem::temp_directory_path() /
               ("strlist-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FDir);
        FFile = (FDir / "config.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    std::filesystem::path FDir;
    std::string FFile;
};

} // namespace

TEST(StringList, TextSplitsOnEveryLineBreakKind)
{
    TStringList l;
    l.SetText("a\r\nb\rc\nd");
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l.Strings(3), "d");
    l.SetText("a\r\n");
    EXPECT_EQ(l.Count(), 1);
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
    l.SetText("\r\n\r\nx");
    ASSERT_EQ(l.Count(), 3);
    EXPECT_EQ(l.Strings(0), "");
    EXPECT_EQ(l.Text(), "\r\n\r\nx\r\n");
}

TEST(StringList, ValuesFirstMatchCaseInsensitiveUntrimmed)
{
    TStringList l;
    l.SetText("Portx=1\r\nno equals Port\r\nport= 8080 \r\nPORT=9\r\nPath=a=b\r\n=empty name");
    EXPECT_EQ(l.Values("Port"), " 8080 ");
    EXPECT_EQ(l.IndexOfName("pOrT"), 2);
    EXPECT_EQ(l.Values("Path"), "a=b");
    EXPECT_EQ(l.Values("no equals Port"), "");
    EXPECT_EQ(l.IndexOfName("no equals Port"), -1);
    EXPECT_EQ(l.Values("Missing"), "");
    EXPECT_EQ(l.Values(""), "empty name");
}

TEST_F(StringListFile, EncodingsAreDetectedAndWrittenBack)
{
    struct Case {
        const char* name;
        std::string bytes;
        TTextEncoding encoding;
    };
    const Case cases[] = {
        {"plain", "Path=/f\xC3\xA9/\r\nPort=9000\r\n", TTextEncoding::Default},
        {"utf8 bom", "\xEF\xBB\xBFPath=/f\xC3\xA9/\r\nPort=9000\r\n", TTextEncoding::UTF8},
        {"utf16le bom",
         std::string("\xFF\xFEP\0a\0t\0h\0=\0/\0f\0\xE9\0/\0\r\0\n\0P\0o\0r\0t\0=\0"
                     "9\0"
                     "0\0"
                     "0\0"
                     "0\0\r\0\n\0",
                     46),
         TTextEncoding::UTF16LE},
        {"utf16be bom",
         std::string("\xFE\xFF\0P\0a\0t\0h\0=\0/\0f\0\xE9\0/\0\r\0\n\0P\0o\0r\0t\0=\0"
                     "9\0"
                     "0\0"
                     "0\0"
                     "0\0\r\0\n",
                     46),
         TTextEncoding::UTF16BE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(FFile, c.bytes);
        TStringList l;
        l.LoadFromFile(FFile);
        EXPECT_EQ(l.Encoding(), c.encoding);
        ASSERT_EQ(l.Count(), 2);
        EXPECT_EQ(l.Strings(0), "Path=/f\xC3\xA9/");
        EXPECT_EQ(l.Values("Port"), "9000");
        l.SaveToFile(FFile);
        EXPECT_EQ(ReadBytes(FFile), c.bytes);
    }
}

TEST_F(StringListFile, LastLineWithoutBreakGetsCrLfOnSave)
{
    WriteBytes(FFile, "Port=1\nPath=x");
    TStringList l;
    l.LoadFromFile(FFile);
    l.SaveToFile(FFile);
    EXPECT_EQ(ReadBytes(FFile), "Port=1\r\nPath=x\r\n");
}

TEST_F(StringListFile, SurrogatePairsSurviveUtf16)
{
    const std::string emoji = "\xF0\x9F\x98\x80";
    TStringList l;
    l.SetEncoding(TTextEncoding::UTF16LE);
    l.Add("x=" + emoji);
    l.SaveToFile(FFile);
    EXPECT_EQ(ReadBytes(FFile), std::string("\xFF\xFEx\0=\0\x3D\xD8\x00\xDE\r\0\n\0", 14));
    TStringList back;
    back.LoadFromFile(FFile);
    EXPECT_EQ(back.Values("x"), emoji);
}

TEST_F(StringListFile, ErrorsNameTheFile)
{
    TStringList l;
    try {
        l.LoadFromFile((FDir / "missing.ini").string());
        ADD_FAILURE();
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("Cannot open file \"" + (FDir / "missing.ini").string() + "\"."), std::string::npos);
    }
    try {
        l.SaveToFile((FDir / "no-dir" / "x.ini").string());
        ADD_FAILURE();
    } catch (const EFCreateError& e) {
        EXPECT_NE(e.Message().find("Cannot create file"), std::string::npos);
        EXPECT_NE(e.Message().find("No such file or directory"), std::string::npos);
    }
}
