// The configuration file: defaults, encodings, key rules, port conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/base/string_list.hpp"
#include "platform/text/str_to_int.hpp"
#include "service/main/control.hpp"
#include "service_support.hpp"

using namespace service;
using namespace service_test;

namespace {

// Controls that start a server share the process's one service object; the location override
// is process-wide too.
class MainControl : public TRestoresService {};

} // namespace

TEST_F(MainControl, MissingConfigIsCreatedWithTheDefaults)
{
    ScratchDir dir;
    TMainControl control(dir.Str());
    const std::string expected = "Path=" + dir.Str() + "/files/\r\nPort=9000\r\n";
    EXPECT_EQ(ReadBytes(dir.Path() / "config.ini"), expected);
    ASSERT_EQ(control.Config().Count(), 2);
    EXPECT_EQ(control.Config().Strings(0), "Path=" + dir.Str() + "/files/");
    EXPECT_EQ(control.Config().Strings(1), "Port=9000");
    EXPECT_EQ(control.Config().Encoding(), platform::TTextEncoding::Default);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "files")); // the folder is not created
}

TEST_F(MainControl, DefaultLocationIsBesideTheExecutableUnlessOverridden)
{
    ScratchDir dir;
    ::setenv("MIROVANDEL_CONFIG_DIR", (dir.Str() + "/").c_str(), 1);
    EXPECT_EQ(TMainControl::DefaultConfigDir(), dir.Str());
    TMainControl control;
    EXPECT_EQ(control.FileConfig(), dir.Str() + "/config.ini");
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.Path() / "config.ini"));
    ::unsetenv("MIROVANDEL_CONFIG_DIR");
    EXPECT_EQ(TMainControl::DefaultConfigDir(), TMainControl::ExecutableDir());
    EXPECT_EQ(std::filesystem::path(TMainControl::ExecutableDir()),
              std::filesystem::path(MIROVANDEL_BINARY_DIR) / "tests");
}

TEST_F(MainControl, ExistingConfigIsReadAsItIs)
{
    ScratchDir dir;
    const std::string content = "# shop 12\r\nport=8080\r\nPort=1234\r\nPath= /pics/ \r\nOther=x\r\n";
    WriteBytes(dir.Path() / "config.ini", content);
    TMainControl control(dir.Str());
    EXPECT_EQ(ReadBytes(dir.Path() / "config.ini"), content); // not rewritten
    ASSERT_EQ(control.Config().Count(), 5);
    EXPECT_EQ(control.Config().Values("Port"), "8080");     // first row, any letter case
    EXPECT_EQ(control.Config().Values("Path"), " /pics/ "); // untrimmed
}

TEST_F(MainControl, BomVariantsAreSavedBackTheSameWay)
{
    struct Case {
        const char* name;
        std::string bytes;
        platform::TTextEncoding encoding;
    };
    const Case cases[] = {
        {"none", "Port=9000\r\n", platform::TTextEncoding::Default},
        {"utf8", "\xEF\xBB\xBFPort=9000\r\n", platform::TTextEncoding::UTF8},
        {"utf16le",
         std::string("\xFF\xFEP\0o\0r\0t\0=\0"
                     "9\0"
                     "0\0"
                     "0\0"
                     "0\0\r\0\n\0",
                     24),
         platform::TTextEncoding::UTF16LE},
        {"utf16be",
         std::string("\xFE\xFF\0P\0o\0r\0t\0=\0"
                     "9\0"
                     "0\0"
                     "0\0"
                     "0\0\r\0\n",
                     24),
         platform::TTextEncoding::UTF16BE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        WriteBytes(dir.Path() / "config.ini", c.bytes);
        TMainControl control(dir.Str());
        EXPECT_EQ(control.Config().Encoding(), c.encoding);
        EXPECT_EQ(control.Config().Values("Port"), "9000");
        platform::TStringList rows = control.Config();
        rows.SetStrings(0, "Port=9001");
        rows.Add("Path=/f\xC3\xA9/");
        control.SaveConfig(rows);
        TMainControl again(dir.Str());
        EXPECT_EQ(again.Config().Encoding(), c.encoding);
        EXPECT_EQ(again.Config().Values("Port"), "9001");
        EXPECT_EQ(again.Config().Values("Path"), "/f\xC3\xA9/");
        const std::string bytes = ReadBytes(dir.Path() / "config.ini");
        switch (c.encoding) {
        case platform::TTextEncoding::Default: EXPECT_EQ(bytes, "Port=9001\r\nPath=/f\xC3\xA9/\r\n"); break;
        case platform::TTextEncoding::UTF8: EXPECT_EQ(bytes, "\xEF\xBB\xBFPort=9001\r\nPath=/f\xC3\xA9/\r\n"); break;
        default:
            EXPECT_EQ(bytes.substr(0, 2), c.bytes.substr(0, 2));
            EXPECT_EQ(bytes.size(), 2 + 2 * std::string("Port=9001\r\nPath=/f_/\r\n").size());
        }
    }
}

TEST_F(MainControl, UnreadableOrUnwritableConfigFails)
{
    ScratchDir dir;
    // A folder named config.ini is not a file: creating the defaults fails.
    std::filesystem::create_directory(dir.Path() / "config.ini");
    try {
        TMainControl control(dir.Str());
        ADD_FAILURE() << "no error";
    } catch (const platform::EFCreateError& e) {
        EXPECT_NE(e.Message().find(dir.Str() + "/config.ini"), std::string::npos) << e.Message();
    }

    if (::geteuid() != 0) {
        ScratchDir ro;
        TMainControl control(ro.Str());
        std::filesystem::permissions(ro.Path() / "config.ini", std::filesystem::perms::owner_read);
        platform::TStringList rows;
        rows.Add("Port=1");
        EXPECT_THROW(control.SaveConfig(rows), platform::EFCreateError);
        EXPECT_EQ(control.Config().Values("Port"), "1"); // the rows are in memory already
    }
}
