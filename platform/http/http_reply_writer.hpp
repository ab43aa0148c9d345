#pragma once
// One reply on its way to the client: the status line and headers laid out from a TWebResponse,
// then a text body, or a file sent with sendfile(2). Writes never wait: Write sends what the
// socket takes now, and the connection calls it again once the socket can take more, so a
// client that stops reading holds no thread.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

#include "platform/web/web_response.hpp"

namespace platform::http {

// How the request asked for its reply.
struct TReplyForm {
    unsigned Version = 11;  // 10 or 11
    bool Head = false;      // HEAD: headers only
    bool KeepAlive = false; // the connection stays open after the reply
};

class TReplyWriter {
public:
    TReplyWriter() = default;
    ~TReplyWriter() { Clear(); }
    TReplyWriter(const TReplyWriter&) = delete;
    TReplyWriter& operator=(const TReplyWriter&) = delete;

    // Lays out AResponse. A text body is encoded in the charset its content type names and goes
    // with the headers in one write; a stream with a file descriptor is sent from that file
    // (from its start), any other stream is copied now. The stream must live until the first
    // Write returns; KeepFile makes the writer independent of it.
    void Start(const TWebResponse& AResponse, const TReplyForm& AForm);
    // Bytes exactly as given (an interim "100 Continue").
    void StartRaw(std::string ABytes);

    enum class TStatus { Done, Blocked, Failed };
    // Sends what the (non-blocking) socket takes. Done: all sent; Blocked: the socket is full;
    // Failed: AError tells why (the client has gone).
    TStatus Write(int ASocket, boost::system::error_code& AError);
    // Before a blocked reply outlives its response: the file body gets a descriptor of its own.
    // False with AError set when none can be had.
    bool KeepFile(boost::system::error_code& AError);

    // Something is still to send.
    bool Busy() const { return FSent < FBytes.size() || FRemaining > 0; }
    // The reply asked to close the connection ("Connection: close"), or its file came short.
    bool CloseAfter() const { return FCloseAfter; }
    // Bytes went out since the last call.
    bool TakeProgress()
    {
        bool p = FProgress;
        FProgress = false;
        return p;
    }
    // Bytes sent of this reply so far.
    uint64_t SentBytes() const { return FSentBytes; }
    // The writer holds a descriptor of its own (KeepFile).
    bool OwnsFile() const { return FOwnsFile; }
    // Drops what is not sent; closes a kept file.
    void Clear();

private:
    TStatus SendBytes(int ASocket, int AFlags, boost::system::error_code& AError);

    std::string FBytes; // status line, headers, text body
    size_t FSent = 0;
    int FFile = -1; // file body, sent from FOffset
    bool FOwnsFile = false;
    off_t FOffset = 0;
    int64_t FRemaining = 0;
    bool FCopyFile = false; // the descriptor takes no sendfile: read and write instead
    bool FCloseAfter = false;
    bool FProgress = false;
    uint64_t FSentBytes = 0;
};

// The Date header's text for now; each thread formats it once a second.
const std::string& HttpDate();

} // namespace platform::http
