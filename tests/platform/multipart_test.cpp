#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/web/multipart.hpp"
#include "platform/web/web_request.hpp"

using namespace platform;

namespace {

std::string ReadAll(TStream& AStream)
{
    AStream.SetPosition(0);
    std::string out;
    char buf[4096];
    for (int guard = 0; guard < 100000; ++guard) {
        size_t n = AStream.Read(buf, sizeof buf);
        if (n == 0)
            break;
        out.append(buf, n);
    }
    return out;
}

std::string Field(const std::string& AName, const std::string& AValue, const std::string& AB = "XyZ")
{
    return "--" + AB + "\r\nContent-Disposition: form-data; name=\"" + AName + "\"\r\n\r\n" + AValue + "\r\n";
}

std::string File(const std::string& AName, const std::string& AFileName, const std::string& AData,
                 const std::string& AB = "XyZ")
{
    return "--" + AB + "\r\nContent-Disposition: form-data; name=\"" + AName + "\"; filename=\"" + AFileName +
           "\"\r\nContent-Type: image/png\r\n\r\n" + AData + "\r\n";
}

std::string Close(const std::string& AB = "XyZ")
{
    return "--" + AB + "--\r\n";
}

} // namespace

TEST(MultipartBoundary, FromContentType)
{
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=XyZ"), "XyZ");
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=\"with space\""), "with space");
    EXPECT_EQ(MultipartBoundary("multipart/form-data"), "");
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary="), "");
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(70, 'b')), std::string(70, 'b'));
    EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')), "");
}

TEST(Multipart, FieldsAndFilesInBodyOrder)
{
    std::string png("\x89PNG\r\n\x1a\n\0\0--XyZ-not-a-boundary", 29);
    std::string body = "preamble to ignore\r\n" + Field("a", "1") + File("file", "p.png", png) +
                       Field("file", "text of a field") + Field("multi", "line 1\r\nline 2") + Close() + "epilogue";
    TMultipartForm form = ParseMultipartFormData(body, "XyZ");
    EXPECT_EQ(form.Error, "");
    EXPECT_EQ(form.Fields, (TStrings{"a=1", "file=text of a field", "multi=line 1\r\nline 2"}));
    ASSERT_EQ(form.Files.size(), 1u);
    EXPECT_EQ(form.Files[0].FieldName, "file");
    EXPECT_EQ(form.Files[0].FileName, "p.png");
    EXPECT_EQ(form.Files[0].ContentType, "image/png");
    EXPECT_EQ(ReadAll(*form.Files[0].Stream), png);
}

TEST(Multipart, PartDetails)
{
    struct Row {
        const char* Why;
        std::string Body;
        TStrings Fields;
        std::vector<std::string> FileNames;
    } rows[] = {
        {"empty form", Close(), {}, {}},
        {"empty value", Field("e", ""), {"e="}, {}},
        {"no name is skipped", "--XyZ\r\nContent-Disposition: form-data; filename=\"x\"\r\n\r\nzz\r\n", {}, {}},
        {"no headers is skipped", "--XyZ\r\n\r\nzz\r\n", {}, {}},
        {"not form-data is skipped", "--XyZ\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nzz\r\n", {}, {}},
        {"header names ignore case, padding after boundary",
         "--XyZ  \t\r\ncontent-disposition:FORM-DATA;NAME=b\r\n\r\nv\r\n",
         {"b=v"},
         {}},
        {"folded disposition", "--XyZ\r\nContent-Disposition: form-data;\r\n name=\"c\"\r\n\r\nw\r\n", {"c=w"}, {}},
        {"empty file name is still a file", File("up", "", ""), {}, {""}},
        {"extended file name preferred",
         "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\"; "
         "filename*=UTF-8''%C3%A1.txt\r\n\r\nd\r\n",
         {},
         {"\xC3\xA1.txt"}},
        {"invalid UTF-8 in a field value", Field("v", "\xFF"), {"v=\xEF\xBF\xBD"}, {}},
    };
    for (auto& r : rows) {
        std::string body = r.Body;
        if (body.find("--XyZ--") == std::string::npos)
            body += Close();
        TMultipartForm form = ParseMultipartFormData(body, "XyZ");
        EXPECT_EQ(form.Error, "") << r.Why;
        EXPECT_EQ(form.Fields, r.Fields) << r.Why;
        std::vector<std::string> names;
        for (const auto& f : form.Files)
            names.push_back(f.FileName);
        EXPECT_EQ(names, r.FileNames) << r.Why;
    }
}

TEST(Multipart, MalformedBodiesGiveNothing)
{
    std::string good = Field("a", "1") + Field("b", "2");
    struct Row {
        const char* Why;
        std::string Body;
        std::string Boundary;
        std::string Error;
    } rows[] = {
        {"empty body", "", "XyZ", "no opening boundary"},
        {"no boundary in body", "just text", "XyZ", "no opening boundary"},
        {"no boundary given", good + Close(), "", "invalid boundary"},
        {"truncated before closing boundary", good, "XyZ", "missing closing boundary"},
        {"truncated in content", good + "--XyZ\r\nContent-Disposition: form-data; name=\"c\"\r\n\r\nhal", "XyZ",
         "missing closing boundary"},
        {"truncated in headers", good + "--XyZ\r\nContent-Disposition: form-data; name=", "XyZ",
         "truncated part headers"},
        {"garbage after boundary", "--XyZjunk\r\n" + Close(), "XyZ", "malformed boundary line"},
        {"boundary at end without CRLF", "--XyZ", "XyZ", "missing closing boundary"},
        {"LF-only lines", "--XyZ\nContent-Disposition: form-data; name=\"a\"\n\n1\n--XyZ--\n", "XyZ",
         "malformed boundary line"},
    };
    for (const auto& r : rows) {
        TMultipartForm form = ParseMultipartFormData(r.Body, r.Boundary);
        EXPECT_EQ(form.Error, r.Error) << r.Why;
        EXPECT_TRUE(form.Fields.empty()) << r.Why;
        EXPECT_TRUE(form.Files.empty()) << r.Why;
    }
}

TEST(Multipart, LimitsOnPartsAndHeaders)
{
    TMultipartLimits limits;
    limits.MaxParts = 3;
    limits.MaxPartHeaderSize = 100;

    std::string three = Field("a", "1") + Field("b", "2") + Field("c", "3");
    EXPECT_EQ(ParseMultipartFormData(three + Close(), "XyZ", limits).Fields.size(), 3u);
    TMultipartForm four = ParseMultipartFormData(three + Field("d", "4") + Close(), "XyZ", limits);
    EXPECT_EQ(four.Error, "too many parts");
    EXPECT_TRUE(four.Fields.empty());

    // a header block of exactly the limit passes; one byte more is refused, even when the rest
    // of the body is huge and never ends its headers
    std::string disposition = "Content-Disposition: form-data; name=\"n\"";
    std::string exact = disposition + "\r\nX-Pad: " + std::string(100 - disposition.size() - 2 - 7, 'p');
    ASSERT_EQ(exact.size(), 100u);
    EXPECT_EQ(ParseMultipartFormData("--XyZ\r\n" + exact + "\r\n\r\nv\r\n" + Close(), "XyZ", limits).Fields,
              TStrings{"n=v"});
    TMultipartForm big = ParseMultipartFormData("--XyZ\r\n" + exact + "p\r\n\r\nv\r\n" + Close(), "XyZ", limits);
    EXPECT_EQ(big.Error, "part headers too large");
    TMultipartForm endless =
        ParseMultipartFormData("--XyZ\r\n" + std::string(1 << 20, 'h') + "\r\n\r\nv\r\n" + Close(), "XyZ", limits);
    EXPECT_EQ(endless.Error, "part headers too large");
}

TEST(Multipart, LargeFilesGoToTemporaryFiles)
{
    TMultipartLimits limits;
    limits.MemoryFileThreshold = 10;
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    TMultipartForm form =
        ParseMultipartFormData(File("big", "b.bin", data) + File("small", "s.bin", "tiny") + Close(), "XyZ", limits);
    ASSERT_EQ(form.Error, "");
    ASSERT_EQ(form.Files.size(), 2u);
    EXPECT_GE(form.Files[0].Stream->Handle(), 0);
    EXPECT_EQ(form.Files[0].Stream->Size(), 5000);
    EXPECT_EQ(ReadAll(*form.Files[0].Stream), data);
    EXPECT_EQ(form.Files[1].Stream->Handle(), -1);
    EXPECT_EQ(ReadAll(*form.Files[1].Stream), "tiny");
}

TEST(Multipart, ThroughTheWebRequest)
{
    TWebRequest r;
    r.SetMethod("POST");
    r.SetContentType("MULTIPART/FORM-DATA; boundary=\"XyZ\"");
    r.SetRawContent(File("doc", "d.txt", "file body") + Field("doc", "field body") + Field("x", "a=b") + Close());
    // Files first: one parse fills both
    ASSERT_EQ(r.Files().size(), 1u);
    EXPECT_EQ(r.Files()[0].FieldName, "doc");
    EXPECT_EQ(r.ContentFields(), (TStrings{"doc=field body", "x=a=b"}));

    TWebRequest bad;
    bad.SetContentType("multipart/form-data; boundary=XyZ");
    bad.SetRawContent(Field("a", "1")); // never closed
    EXPECT_TRUE(bad.ContentFields().empty());
    EXPECT_TRUE(bad.Files().empty());

    TWebRequest noBoundary;
    noBoundary.SetContentType("multipart/form-data");
    noBoundary.SetRawContent(Field("a", "1") + Close());
    EXPECT_TRUE(noBoundary.ContentFields().empty());
}

TEST(Multipart, RandomGarbageNeverCrashes)
{
    // a fixed pseudo-random sequence over the bytes that matter to the parser
    const char alphabet[] = "-\r\n\"; =XyZabc:\t\\";
    uint32_t seed = 12345;
    std::string base = File("f", "n", "data") + Field("a", "1") + Close();
    for (int round = 0; round < 2000; ++round) {
        std::string body = base;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % (body.size() + 1);
            seed = seed * 1103515245u + 12345u;
            char c = alphabet[(seed >> 8) % (sizeof alphabet - 1)];
            if (seed & 1)
                body.insert(body.begin() + static_cast<std::ptrdiff_t>(at), c);
            else if (at < body.size())
                body.erase(at, 1);
        }
        TMultipartForm form = ParseMultipartFormData(body, "XyZ");
        if (!form.Error.empty()) {
            EXPECT_TRUE(form.Fields.empty());
            EXPECT_TRUE(form.Files.empty());
        }
        EXPECT_LE(form.Fields.size() + form.Files.size(), 3u);
    }
}
