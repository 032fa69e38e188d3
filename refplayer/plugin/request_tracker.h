// The plug-in's URL requests and the browser streams that answer them.
// Browsers differ in how they end a stream: a browser following the API sends
// NPP_DestroyStream and then NPP_URLNotify; a minimal host may notify first
// and destroy after, deliver everything in one write, pass offset 0 with every
// piece, notify once per piece of a download of unknown length, or never
// destroy the stream at all. The tracker turns any of these orders into
// exactly one outcome per request: the whole body, or a failure.
// Platform-free; the cookie is what travels as the request's notifyData.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace refplugin {

inline constexpr int kReasonDone = 0;  // NPRES_DONE

struct Outcome {
    bool delivered = false;    // false: the request failed
    uintptr_t cookie = 0;      // 0: the browser's own stream (the instance's src), no request
    uint32_t requestId = 0;    // what the request was opened with
    std::string url;           // the stream's URL (or the request's when no stream came)
    std::vector<uint8_t> data; // the whole body, when delivered
    std::string why;           // when failed
};

class RequestTracker {
public:
    struct Stream;

    explicit RequestTracker(size_t maxBodyBytes = size_t(64) << 20) : maxBody_(maxBodyBytes) {}

    // A request about to be made; returns its cookie (never 0).
    uintptr_t open(uint32_t requestId, std::string url);
    // The browser refused the request outright: it ends as a failure now.
    void refuse(uintptr_t cookie, std::string why);
    bool pending(uintptr_t cookie) const { return requests_.count(cookie) != 0; }
    size_t pendingCount() const { return requests_.size(); }

    // NPP_NewStream. cookie 0 is the browser's own stream; an unknown cookie
    // (a request already ended, or never made) gives null and a reason.
    Stream* openStream(uintptr_t cookie, std::string url, uint32_t declaredLength, std::string* why);
    // Whether a stream pointer handed back by the browser is one of ours.
    bool owns(const Stream* stream) const;
    // NPP_Write: bytes taken (all of them) or -1 to make the browser end the stream.
    int32_t write(Stream* stream, int32_t offset, int32_t length, const void* bytes);
    // NPP_DestroyStream.
    void closeStream(Stream* stream, int reason);
    // NPP_URLNotify.
    void notify(uintptr_t cookie, int reason);

    // Outcomes reached since the last call, in the order they were reached.
    std::vector<Outcome> takeOutcomes();

    size_t receivedBytes(const Stream* stream) const;

private:
    struct Request {
        uint32_t requestId = 0;
        std::string url;
        Stream* stream = nullptr;  // the stream answering it, while open
        bool notified = false;     // URLNotify(done) came while the body was incomplete
    };

    void finish(Stream& s, bool delivered, std::string why);
    void failRequest(uintptr_t cookie, Request& r, std::string why);

    size_t maxBody_;
    uintptr_t nextCookie_ = 1;
    std::map<uintptr_t, Request> requests_;
    std::list<std::unique_ptr<Stream>> streams_;
    std::vector<Outcome> outcomes_;
};

struct RequestTracker::Stream {
    uintptr_t cookie = 0;
    uint32_t requestId = 0;
    std::string url;
    uint32_t declaredLength = 0;  // 0: unknown
    std::vector<uint8_t> body;
    bool finished = false;        // an outcome was reached; later writes are refused
    int64_t nextOffset = 0;
    bool complete() const { return declaredLength > 0 && body.size() >= declaredLength; }
};

}  // namespace refplugin
