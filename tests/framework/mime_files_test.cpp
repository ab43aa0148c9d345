#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "framework/relay/core/files.hpp"
#include "framework/relay/mime.hpp"
#include "platform/base/exception.hpp"
#include "support/exception_text.hpp"
#include "temp_dir.hpp"

using namespace relay;
using testing_support::ExceptionText;
namespace fs = std::filesystem;

TEST(MimeTypeOfFile, ByExtension)
{
    struct Row {
        std::string name;
        std::string type;
    };
    const Row rows[] = {
        {"7891000100103.png", "image/png"},
        {"/srv/files/7891000100103.PNG", "image/png"},
        {"a.Png ", "image/png"}, // blanks after the extension are trimmed
        {"photo.jpg", "image/jpeg"},
        {"page.html", "text/html"},
        {"data.json", "application/json"},
        {"noextension", "application/octet-stream"},
        {"archive.unknownext", "application/octet-stream"},
        {"trailingdot.", "application/octet-stream"},
        {"dir.png/file", "application/octet-stream"}, // a dot in a folder name is no extension
        {"C:picture.gif", "image/gif"},
        {"", "application/octet-stream"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(MimeTypeOfFile(row.name), row.type) << row.name;
}

TEST(MimeTypeOfFile, SharedTableBuiltOnceUnderConcurrentUse)
{
    std::vector<std::thread> threads;
    std::vector<std::string> results(8);
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { results[i] = MimeTypeOfFile("x.png"); });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r, "image/png");
    EXPECT_EQ(&TMimeTable::Shared(), &TMimeTable::Shared());
}

TEST(MimeTable, FirstPairWinsAndSystemFileAddsTypes)
{
    TTempDir dir;
    const std::string path = dir.Write("mime.types",
                                       "# comment line\n"
                                       "image/x-other png\n"
                                       "application/x-demo   demo  DMO2 # trailing comment\n"
                                       "\n"
                                       "text/only-type\n");
    TMimeTable table;
    table.Add("png", "image/png");
    table.Add("PNG", "image/wrong");
    table.LoadMimeTypesFile(path);
    table.LoadMimeTypesFile((dir.Path() / "missing.types").string());
    EXPECT_EQ(table.Find("png"), "image/png");
    EXPECT_EQ(table.Find("demo"), "application/x-demo");
    EXPECT_EQ(table.Find("dmo2"), "application/x-demo");
    EXPECT_EQ(table.Find("nothing"), "");
}

TEST(RelayCoreFile, NameTypeStreamAndSize)
{
    TTempDir dir;
    const std::string path = dir.Write("7891.PNG", std::string("\x89PNG\r\n\x1A\n", 8) + "data");
    TRelayCoreFile file(path);
    EXPECT_EQ(file.Name(), "7891.PNG");
    EXPECT_EQ(file.FileName(), path);
    EXPECT_EQ(file.ContentType(), "image/png");
    EXPECT_TRUE(file.FreeContentStream());
    platform::TStream* s = file.ContentStream();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(file.ContentStream(), s);
    EXPECT_EQ(file.Size(), 12);
    EXPECT_GE(s->Handle(), 0);
}

TEST(RelayCoreFile, StreamTakenOverOutlivesTheObject)
{
    TTempDir dir;
    const std::string path = dir.Write("a.txt", "hello");
    std::unique_ptr<platform::TStream> taken;
    {
        TRelayCoreFile file(path);
        taken.reset(file.ContentStream());
        file.SetFreeContentStream(false);
    }
    char buf[8] = {};
    EXPECT_EQ(taken->Read(buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST(RelayCoreFile, RefusesWhatIsNotAFile)
{
    TTempDir dir;
    const std::string target = dir.Write("real.png", "x");
    fs::create_symlink(target, dir.Path() / "link.png");
    fs::create_symlink(dir.Path() / "gone.png", dir.Path() / "dangling.png");
    fs::create_directory(dir.Path() / "folder.png");

    EXPECT_EQ(ExceptionText([] { TRelayCoreFile f(""); }), "Invalid FileName");
    EXPECT_EQ(ExceptionText([&] { TRelayCoreFile f((dir.Path() / "missing.png").string()); }), "File not exist");
    EXPECT_EQ(ExceptionText([&] { TRelayCoreFile f((dir.Path() / "folder.png").string()); }), "File not exist");
    EXPECT_EQ(ExceptionText([&] { TRelayCoreFile f((dir.Path() / "dangling.png").string()); }), "File not exist");
    EXPECT_EQ(ExceptionText([] { TRelayCoreFile f("/dev/null"); }), "File not exist");

    TRelayCoreFile viaLink((dir.Path() / "link.png").string()); // links are followed
    EXPECT_EQ(viaLink.Name(), "link.png");
    EXPECT_EQ(viaLink.Size(), 1);
}

TEST(RelayCoreFile, NameAfterLastSeparator)
{
    EXPECT_EQ(ExtractFileNameOnly("/srv/files/123.png"), "123.png");
    EXPECT_EQ(ExtractFileNameOnly("C:\\fotos\\123.png"), "123.png");
    EXPECT_EQ(ExtractFileNameOnly("C:123.png"), "123.png");
    EXPECT_EQ(ExtractFileNameOnly("a/b\\c:d.png"), "d.png");
    EXPECT_EQ(ExtractFileNameOnly("plain.png"), "plain.png");
    EXPECT_EQ(ExtractFileNameOnly("dir/"), "");
}
