#pragma once
// A file named by its path, as the file replies send it.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/object.hpp"
#include "platform/base/stream.hpp"

namespace relay {

class TRelayCoreFile : public platform::TObject {
public:
    // Raises platform::Exception "Invalid FileName" for an empty name and "File not exist"
    // when no regular file is there (links followed; directories, devices and pipes do not count).
    explicit TRelayCoreFile(const std::string& AFileName);
    ~TRelayCoreFile() override;

    // The media type of the path, fixed at construction.
    const std::string& ContentType() const noexcept { return FContentType; }
    // The read stream, opened on the first call; the same stream afterwards.
    platform::TStream* ContentStream();
    // Size of the content stream (opening it if needed).
    int64_t Size();

    // The name without its directory part.
    const std::string& Name() const noexcept { return FName; }
    const std::string& FileName() const noexcept { return FFileName; }
    // While true the object frees its stream; whoever sets it false takes the stream over.
    bool FreeContentStream() const noexcept { return FFreeContentStream; }
    void SetFreeContentStream(bool AValue) noexcept { FFreeContentStream = AValue; }

    std::string ClassName() const override { return "TRelayCoreFile"; }

private:
    std::string FFileName;
    std::string FName;
    std::unique_ptr<platform::TFileStream> FFileStream;
    bool FFreeContentStream = true;
    std::string FContentType;
};

// The text after the last "/", "\" or ":" of a path (a drive prefix such as "C:" goes too).
std::string ExtractFileNameOnly(const std::string& APath);

} // namespace relay
