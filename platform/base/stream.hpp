#pragma once
// Byte streams: the content of file replies and of uploaded files.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/object.hpp"

namespace platform {

class TStream : public TObject {
public:
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t APosition) = 0;
    // Reads up to ACount bytes from the current position; returns how many were read.
    virtual size_t Read(void* ABuffer, size_t ACount) = 0;
    // An open file descriptor the stream reads from, or -1. Lets the server send
    // file streams without copying them through user space.
    virtual int Handle() const { return -1; }
};

// Reads up to ACount bytes of the open file AHandle at APosition, advancing APosition by what
// was read (0 at the end of the file). Throws Exception with the system's message on failure.
size_t ReadFileAt(int AHandle, void* ABuffer, size_t ACount, int64_t& APosition);

// A file opened for reading. Throws Exception with the system's message when it cannot be opened.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& AFileName);
    ~TFileStream() override;

    // AFileName opened for reading when it is a regular file (links followed); null when it is
    // missing or something else (a folder, a pipe, a device), found with one lookup of the
    // name and without waiting on a pipe or taking a terminal. A regular file that cannot be
    // opened (no permission) throws as the constructor does. Its Size is the size it had when
    // opened (a picture reply asks for it right after).
    static std::unique_ptr<TFileStream> OpenRegularFile(const std::string& AFileName);

    int64_t Size() const override;
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t APosition) override { FPosition = APosition; }
    size_t Read(void* ABuffer, size_t ACount) override;
    int Handle() const override { return FHandle; }

private:
    struct TAdopt {};
    TFileStream(int AHandle, TAdopt) : FHandle(AHandle) {}

    int FHandle = -1;
    int64_t FPosition = 0;
    int64_t FKnownSize = -1; // -1: asked of the file each time
};

// Bytes held in memory.
class TStringStream : public TStream {
public:
    TStringStream() = default;
    explicit TStringStream(std::string AData) : FData(std::move(AData)) {}

    int64_t Size() const override { return static_cast<int64_t>(FData.size()); }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t APosition) override { FPosition = APosition; }
    size_t Read(void* ABuffer, size_t ACount) override;

    const std::string& DataString() const { return FData; }

private:
    std::string FData;
    int64_t FPosition = 0;
};

} // namespace platform
