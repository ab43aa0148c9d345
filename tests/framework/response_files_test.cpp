#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/relay/commons.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"
#include "support/exception_text.hpp"
#include "temp_dir.hpp"

using namespace relay;
using testing_support::ExceptionText;

namespace {

// A platform response that records what goes out at the moment SendResponse sends it, reading
// the content stream from its start as the server does.
class TCapturingWebResponse : public platform::TWebResponse {
public:
    int SendCount = 0;
    int SentStatus = 0;
    std::string SentContentType;
    std::string SentDisposition;
    int64_t SentLength = -1;
    std::string SentBytes;
    bool SentFreesStream = true;
    int SentHandle = -1;
    bool FailSending = false;

protected:
    void DoSendResponse() override
    {
        ++SendCount;
        SentStatus = StatusCode();
        SentContentType = ContentType();
        SentDisposition = GetCustomHeader("Content-Disposition");
        SentLength = ContentLength();
        SentFreesStream = FreeContentStream();
        if (FailSending)
            throw platform::Exception("Connection closed gracefully.");
        if (platform::TStream* s = ContentStream()) {
            SentHandle = s->Handle();
            s->SetPosition(0);
            char buf[4096];
            for (int i = 0; i < 100000; ++i) {
                size_t n = s->Read(buf, sizeof buf);
                if (n == 0)
                    break;
                SentBytes.append(buf, n);
            }
        }
    }
};

struct TFileExchange {
    TCapturingWebResponse Web;
    TRelayResponse Response{Web};
};

const std::string PngBytes = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + std::string(3000, '\x7F');

} // namespace

TEST(MediaType, Texts)
{
    const char* texts[] = {"multipart/form-data",
                           "application/x-www-form-urlencoded",
                           "application/json",
                           "application/octet-stream",
                           "application/xml",
                           "application/javascript",
                           "application/pdf",
                           "application/typescript",
                           "application/zip",
                           "text/plain",
                           "text/css",
                           "text/csv",
                           "text/html",
                           "image/jpeg",
                           "image/png",
                           "image/gif",
                           "application/x-download"};
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(MediaTypeText(static_cast<TMediaType>(i)), texts[i]) << i;
    static_assert(sizeof(TMediaType) == 1);
}

TEST(SendFile, PngPathSentInlineAtOnce)
{
    TTempDir dir;
    const std::string path = dir.Write("7891000100103.png", PngBytes);
    TFileExchange x;
    TRelayResponse& same = x.Response.SendFile(path, "");
    EXPECT_EQ(&same, &x.Response);
    EXPECT_EQ(x.Web.SendCount, 1);
    EXPECT_TRUE(x.Web.Sent());
    EXPECT_EQ(x.Web.SentStatus, 200);
    EXPECT_EQ(x.Web.SentContentType, "image/png");
    EXPECT_EQ(x.Web.SentDisposition, "inline; filename=\"7891000100103.png\"");
    EXPECT_EQ(x.Web.SentLength, static_cast<int64_t>(PngBytes.size()));
    EXPECT_EQ(x.Web.SentBytes, PngBytes);
    EXPECT_FALSE(x.Web.SentFreesStream);
    EXPECT_GE(x.Web.SentHandle, 0);            // a file stream the server can sendfile from
    EXPECT_EQ(x.Web.ContentStream(), nullptr); // the closed file is not left behind
}

TEST(SendFile, ContentTypeByExtensionOrAsGiven)
{
    TTempDir dir;
    struct Row {
        std::string name;
        std::string given;
        std::string sent;
    };
    const Row rows[] = {
        {"FOTO.PNG", "", "image/png"},
        {"foto.Png", "", "image/png"},
        {"data.unknownext", "", "application/octet-stream"},
        {"noextension", "", "application/octet-stream"},
        {"foto.png", "application/x-custom", "application/x-custom"},
        {"page.txt", "image/gif", "image/gif"},
    };
    for (const Row& row : rows) {
        const std::string path = dir.Write(row.name, "abc");
        TFileExchange x;
        x.Response.SendFile(path, row.given);
        EXPECT_EQ(x.Web.SentContentType, row.sent) << row.name;
        EXPECT_EQ(x.Web.SentBytes, "abc") << row.name;
    }
}

TEST(SendFile, StreamAtItsEndIsSentWholeAndStaysTheCallers)
{
    auto stream = std::make_unique<platform::TStringStream>("hello stream");
    stream->SetPosition(stream->Size());
    TFileExchange x;
    x.Response.SendFile(*stream, "/any/dir/report.csv", "");
    EXPECT_EQ(x.Web.SentBytes, "hello stream");
    EXPECT_EQ(x.Web.SentLength, 12);
    EXPECT_EQ(x.Web.SentContentType, "text/csv");
    EXPECT_EQ(x.Web.SentDisposition, "inline; filename=\"report.csv\"");
    EXPECT_FALSE(x.Web.FreeContentStream());
    // The caller frees it; the platform response holds no pointer to it any more.
    stream.reset();
    EXPECT_EQ(x.Web.ContentStream(), nullptr);
}

TEST(SendFile, StreamOwnedByThePlatformResponseBeforeIsFreedNotLeaked)
{
    TFileExchange x;
    x.Web.SetContentStream(new platform::TStringStream("old")); // owned by the platform response
    platform::TStringStream mine("new");
    x.Response.SendFile(mine, "a.txt", "text/plain");
    EXPECT_EQ(x.Web.SentBytes, "new");
}

TEST(SendFile, StatusBeforeReachesTheClientStatusAfterDoesNot)
{
    TTempDir dir;
    const std::string path = dir.Write("a.png", "x");
    TFileExchange before;
    before.Response.Status(203).SendFile(path, "");
    EXPECT_EQ(before.Web.SentStatus, 203);

    TFileExchange after;
    after.Response.SendFile(path, "").Status(500);
    EXPECT_EQ(after.Web.SentStatus, 200);
    EXPECT_EQ(after.Web.SendCount, 1);
    after.Web.SendResponse(); // already sent: nothing more goes out
    EXPECT_EQ(after.Web.SendCount, 1);
}

TEST(SendFile, NameAfterTheLastSeparator)
{
    struct Row {
        std::string name;
        std::string disposition;
    };
    const Row rows[] = {
        {"/srv/fotos/123.png", "inline; filename=\"123.png\""},
        {"C:\\fotos\\123.png", "inline; filename=\"123.png\""},
        {"C:123.png", "inline; filename=\"123.png\""},
        {"plain.png", "inline; filename=\"plain.png\""},
        {"caf\xC3\xA9.png", "inline; filename=\"caf\xC3\xA9.png\""},
        // A quote or a line break must not break the header open.
        {"a\"b.png", "inline; filename=\"a\\\"b.png\""},
        {"a\r\nSet-Cookie=x.png", "inline; filename=\"a__Set-Cookie=x.png\""},
    };
    for (const Row& row : rows) {
        platform::TStringStream s("1");
        TFileExchange x;
        x.Response.SendFile(s, row.name, "image/png");
        EXPECT_EQ(x.Web.SentDisposition, row.disposition) << row.name;
    }
}

TEST(Download, AttachmentInsteadOfInline)
{
    TTempDir dir;
    const std::string path = dir.Write("nota.pdf", "%PDF");
    TFileExchange byName;
    byName.Response.Download(path, "");
    EXPECT_EQ(byName.Web.SentDisposition, "attachment; filename=\"nota.pdf\"");
    EXPECT_EQ(byName.Web.SentContentType, "application/pdf");
    EXPECT_EQ(byName.Web.SentBytes, "%PDF");

    platform::TStringStream s("zz");
    TFileExchange byStream;
    byStream.Response.Download(s, "x/y.zip", "");
    EXPECT_EQ(byStream.Web.SentDisposition, "attachment; filename=\"y.zip\"");
    EXPECT_EQ(byStream.Web.SentContentType, "application/zip");
}

TEST(Render, AlwaysTextHtml)
{
    TTempDir dir;
    const std::string path = dir.Write("page.png", "<html></html>");
    TFileExchange byName;
    byName.Response.Render(path);
    EXPECT_EQ(byName.Web.SentContentType, "text/html");
    EXPECT_EQ(byName.Web.SentDisposition, "inline; filename=\"page.png\"");
    EXPECT_EQ(byName.Web.SentBytes, "<html></html>");

    platform::TStringStream s("<p>");
    TFileExchange byStream;
    byStream.Response.Render(s, "x.json");
    EXPECT_EQ(byStream.Web.SentContentType, "text/html");
    EXPECT_EQ(byStream.Web.SentBytes, "<p>");
}

TEST(SendFile, NothingIsSentForWhatIsNotAFile)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder.png");
    struct Row {
        std::string path;
        std::string error;
    };
    const Row rows[] = {
        {"", "Invalid FileName"},
        {(dir.Path() / "missing.png").string(), "File not exist"},
        {(dir.Path() / "folder.png").string(), "File not exist"},
    };
    for (const Row& row : rows) {
        for (int form = 0; form < 3; ++form) {
            TFileExchange x;
            x.Response.Status(404);
            std::string error = ExceptionText([&] {
                if (form == 0)
                    x.Response.SendFile(row.path, "");
                else if (form == 1)
                    x.Response.Download(row.path, "");
                else
                    x.Response.Render(row.path);
            });
            EXPECT_EQ(error, row.error) << row.path << " form " << form;
            EXPECT_EQ(x.Web.SendCount, 0);
            EXPECT_FALSE(x.Web.Sent());
            EXPECT_EQ(x.Web.ContentType(), "");
            EXPECT_EQ(x.Web.GetCustomHeader("Content-Disposition"), "");
            EXPECT_EQ(x.Web.StatusCode(), 404);
        }
    }
}

TEST(SendFile, FailedSendPassesOnAndLeavesNoStreamBehind)
{
    TTempDir dir;
    const std::string path = dir.Write("a.png", "x");
    TFileExchange x;
    x.Web.FailSending = true;
    EXPECT_EQ(ExceptionText([&] { x.Response.SendFile(path, ""); }), "Connection closed gracefully.");
    EXPECT_EQ(x.Web.ContentStream(), nullptr);
}
