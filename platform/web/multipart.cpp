#include "platform/web/multipart.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "platform/net/percent_decoding.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/pieces.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/form_fields.hpp"
#include "platform/web/header_params.hpp"

namespace platform {

namespace {

constexpr size_t KMaxBoundaryLength = 70;

bool IsBlank(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t';
}

struct TPartHeaders {
    std::string Disposition;
    std::string ContentType;
};

// Splits a header block into lines; a line starting with a blank continues the previous one.
TPartHeaders ReadPartHeaders(std::string_view ABlock)
{
    TPartHeaders result;
    std::string* last = nullptr;
    ForEachPiece(ABlock, "\r\n", [&](std::string_view ALine) {
        if (ALine.empty())
            return;
        if (IsBlank(ALine[0])) {
            MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
            if (last)
                *last += " " + std::string(TrimControl(ALine));
            MIROVANDEL_GCC12_FALSE_RESTRICT_END
            return;
        }
        last = nullptr;
        size_t colon = ALine.find(':');
        if (colon == std::string_view::npos)
            return;
        std::string_view name = TrimControl(ALine.substr(0, colon));
        std::string value(TrimControl(ALine.substr(colon + 1)));
        if (AsciiSameText(name, "Content-Disposition") && result.Disposition.empty()) {
            result.Disposition = std::move(value);
            last = &result.Disposition;
        } else if (AsciiSameText(name, "Content-Type") && result.ContentType.empty()) {
            result.ContentType = std::move(value);
            last = &result.ContentType;
        }
    });
    return result;
}

// RFC 5987 ext-value "UTF-8'lang'percent-encoded"; other charsets are not decoded.
bool DecodeExtValue(std::string_view AValue, std::string& AOut)
{
    size_t q1 = AValue.find('\'');
    if (q1 == std::string_view::npos)
        return false;
    size_t q2 = AValue.find('\'', q1 + 1);
    if (q2 == std::string_view::npos || !AsciiSameText(AValue.substr(0, q1), "UTF-8"))
        return false;
    AOut = Utf8Sanitize(PercentDecode(AValue.substr(q2 + 1)));
    return true;
}

std::unique_ptr<TStream> MakeFileStream(std::string_view AContent, const TMultipartLimits& ALimits)
{
    if (AContent.size() > ALimits.MemoryFileThreshold) {
        try {
            return std::make_unique<TTempFileStream>(AContent);
        } catch (const Exception&) {
            // no usable temporary directory: keep the upload in memory rather than lose it
        }
    }
    return std::make_unique<TStringStream>(std::string(AContent));
}

TMultipartForm Refuse(std::string AReason)
{
    TMultipartForm form;
    form.Error = std::move(AReason);
    return form;
}

} // namespace

std::string MultipartBoundary(std::string_view AContentType)
{
    auto boundary = ContentTypeParameter(AContentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > KMaxBoundaryLength)
        return {};
    return *boundary;
}

TMultipartForm ParseMultipartFormData(std::string_view ABody, std::string_view ABoundary,
                                      const TMultipartLimits& ALimits)
{
    if (ABoundary.empty() || ABoundary.size() > KMaxBoundaryLength)
        return Refuse("invalid boundary");

    const std::string dash = "--" + std::string(ABoundary);
    const std::string delimiter = "\r\n" + dash;

    size_t pos;
    if (ABody.substr(0, dash.size()) == dash) {
        pos = dash.size();
    } else {
        size_t first = ABody.find(delimiter);
        if (first == std::string_view::npos)
            return Refuse("no opening boundary");
        pos = first + delimiter.size();
    }

    TMultipartForm form;
    size_t parts = 0;
    for (;;) {
        // pos stands just after a boundary
        if (ABody.substr(pos, 2) == "--")
            return form; // the closing boundary; the epilogue is ignored
        while (pos < ABody.size() && IsBlank(ABody[pos]))
            ++pos;
        if (ABody.substr(pos, 2) != "\r\n")
            return Refuse(pos >= ABody.size() ? "missing closing boundary" : "malformed boundary line");
        pos += 2;

        if (++parts > ALimits.MaxParts)
            return Refuse("too many parts");

        std::string_view headerBlock;
        size_t contentStart;
        if (ABody.substr(pos, 2) == "\r\n") {
            contentStart = pos + 2; // a part without headers
        } else {
            // search only as far as the header limit allows
            std::string_view window = ABody.substr(pos, ALimits.MaxPartHeaderSize + 4);
            size_t end = window.find("\r\n\r\n");
            if (end == std::string_view::npos)
                return Refuse(window.size() < ALimits.MaxPartHeaderSize + 4 ? "truncated part headers"
                                                                            : "part headers too large");
            if (end > ALimits.MaxPartHeaderSize)
                return Refuse("part headers too large");
            headerBlock = window.substr(0, end);
            contentStart = pos + end + 4;
        }

        size_t next = ABody.find(delimiter, contentStart);
        if (next == std::string_view::npos)
            return Refuse("missing closing boundary");
        std::string_view content = ABody.substr(contentStart, next - contentStart);
        pos = next + delimiter.size();

        TPartHeaders headers = ReadPartHeaders(headerBlock);
        size_t semi = headers.Disposition.find(';');
        if (!AsciiSameText(MediaTypeOf(headers.Disposition), "form-data") || semi == std::string::npos)
            continue; // not a form part: nothing to file it under
        THeaderParams params;
        if (!ParseHeaderParams(std::string_view(headers.Disposition).substr(semi + 1), params))
            continue;
        const std::string* name = nullptr;
        const std::string* fileName = nullptr;
        std::string extFileName;
        bool hasExtFileName = false;
        for (const auto& [key, value] : params) {
            if (AsciiSameText(key, "name") && !name)
                name = &value;
            else if (AsciiSameText(key, "filename") && !fileName)
                fileName = &value;
            else if (AsciiSameText(key, "filename*") && !hasExtFileName)
                hasExtFileName = DecodeExtValue(value, extFileName);
        }
        if (!name || name->empty())
            continue;

        if (fileName || hasExtFileName) {
            TWebFile file;
            file.FieldName = Utf8Sanitize(*name);
            file.FileName = hasExtFileName ? extFileName : Utf8Sanitize(*fileName);
            file.ContentType = Utf8Sanitize(headers.ContentType);
            file.Stream = MakeFileStream(content, ALimits);
            form.Files.push_back(std::move(file));
        } else {
            form.Fields.push_back(Utf8Sanitize(*name) + "=" + Utf8Sanitize(content));
        }
    }
}

TTempFileStream::TTempFileStream(std::string_view AData)
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    FHandle = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (FHandle < 0) {
        // file systems without O_TMPFILE: a named file, unlinked at once
        std::string name = folder + "/mirovandel-upload-XXXXXX";
        FHandle = ::mkostemp(name.data(), O_CLOEXEC);
        if (FHandle < 0)
            throw Exception("Cannot create a temporary file. " + std::string(std::strerror(errno)));
        ::unlink(name.c_str());
    }
    size_t done = 0;
    while (done < AData.size()) {
        ssize_t n = ::write(FHandle, AData.data() + done, AData.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(FHandle);
            FHandle = -1;
            throw Exception("Cannot write a temporary file. " + std::string(std::strerror(err)));
        }
        done += static_cast<size_t>(n);
    }
    FSize = static_cast<int64_t>(AData.size());
}

TTempFileStream::~TTempFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

size_t TTempFileStream::Read(void* ABuffer, size_t ACount)
{
    if (FPosition < 0 || FPosition >= FSize)
        return 0;
    return ReadFileAt(FHandle, ABuffer, ACount, FPosition);
}

} // namespace platform
