#pragma once
// multipart/form-data bodies: the parts of an HTML form post, as named fields and uploaded
// files.
//
// The body is untrusted: nothing in it (part sizes, header lengths, counts) is believed, every
// scan is bounded by the body itself, and the limits below cap what one body may make us
// allocate beyond its own size. A body that breaks the format or a limit yields no fields and
// no files at all (the caller gets an empty result, never half a form) and the reason in
// TMultipartForm::Error; it never throws for bad input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/stream.hpp"
#include "platform/web/request_limits.hpp"
#include "platform/web/web_request.hpp"

namespace platform {

// The program's limits are in platform/web/request_limits.hpp; tests and fuzzing use smaller ones.
struct TMultipartLimits {
    // Parts in one body.
    size_t MaxParts = limits::KMaxMultipartParts;
    // Bytes of the header block of one part (its lines up to the blank line).
    size_t MaxPartHeaderSize = limits::KMaxMultipartPartHeaderBytes;
    // Files up to this size are kept in memory, larger ones in an unnamed temporary file.
    size_t MemoryFileThreshold = limits::KMultipartMemoryFileBytes;
};

struct TMultipartForm {
    // One "name=value" line per part without a file name, in body order.
    TStrings Fields;
    // One entry per part with a file name, in body order.
    std::vector<TWebFile> Files;
    // Empty on success; otherwise why the body was refused (Fields and Files are then empty).
    std::string Error;
};

// The boundary of a multipart Content-Type value: its "boundary" parameter, unquoted, when it is
// 1 to 70 characters long; empty otherwise.
std::string MultipartBoundary(std::string_view AContentType);

// Parses a multipart/form-data body delimited by ABoundary. Per part: Content-Disposition gives
// the name and, for a file, the file name (filename*=UTF-8''... preferred when present);
// Content-Type gives a file's type. A part without a name is skipped. Field values and names
// are UTF-8 text (invalid bytes become U+FFFD); file content is kept byte for byte.
TMultipartForm ParseMultipartFormData(std::string_view ABody, std::string_view ABoundary,
                                      const TMultipartLimits& ALimits = {});

// Bytes written once into an unnamed temporary file (gone when the stream is freed), read like
// a file stream; Handle() lets the server send it without copying.
class TTempFileStream : public TStream {
public:
    // Throws Exception with the system's message when no temporary file can be made.
    explicit TTempFileStream(std::string_view AData);
    ~TTempFileStream() override;

    int64_t Size() const override { return FSize; }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t APosition) override { FPosition = APosition; }
    size_t Read(void* ABuffer, size_t ACount) override;
    int Handle() const override { return FHandle; }

private:
    int FHandle = -1;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

} // namespace platform
