#include "request_tracker.h"

#include <algorithm>

namespace refplugin {

uintptr_t RequestTracker::open(uint32_t requestId, std::string url)
{
    uintptr_t cookie = nextCookie_++;
    if (nextCookie_ == 0)
        nextCookie_ = 1;
    requests_[cookie] = Request{requestId, std::move(url), nullptr, false};
    return cookie;
}

void RequestTracker::refuse(uintptr_t cookie, std::string why)
{
    auto it = requests_.find(cookie);
    if (it == requests_.end())
        return;
    failRequest(cookie, it->second, std::move(why));
}

void RequestTracker::failRequest(uintptr_t cookie, Request& r, std::string why)
{
    if (r.stream) {
        r.stream->finished = true;
        r.stream->body.clear();
    }
    Outcome o;
    o.cookie = cookie;
    o.requestId = r.requestId;
    o.url = r.url;
    o.why = std::move(why);
    outcomes_.push_back(std::move(o));
    requests_.erase(cookie);
}

RequestTracker::Stream* RequestTracker::openStream(uintptr_t cookie, std::string url, uint32_t declaredLength,
                                                   std::string* why)
{
    if (declaredLength > maxBody_) {
        if (why)
            *why = "stream longer than the player accepts";
        return nullptr;
    }
    Request* r = nullptr;
    if (cookie != 0) {
        auto it = requests_.find(cookie);
        if (it == requests_.end()) {
            if (why)
                *why = "no request is waiting for this stream";
            return nullptr;
        }
        r = &it->second;
        if (r->stream) {
            // A second stream for the same request replaces the first (a redirect
            // seen as two streams); the first one's data is dropped.
            r->stream->finished = true;
            r->stream->cookie = 0;
            r->stream = nullptr;
        }
    }
    auto s = std::make_unique<Stream>();
    s->cookie = cookie;
    s->requestId = r ? r->requestId : 0;
    s->url = std::move(url);
    s->declaredLength = declaredLength;
    Stream* raw = s.get();
    streams_.push_back(std::move(s));
    if (r)
        r->stream = raw;
    return raw;
}

bool RequestTracker::owns(const Stream* stream) const
{
    return stream && std::any_of(streams_.begin(), streams_.end(), [&](auto& s) { return s.get() == stream; });
}

size_t RequestTracker::receivedBytes(const Stream* stream) const { return stream ? stream->body.size() : 0; }

int32_t RequestTracker::write(Stream* stream, int32_t offset, int32_t length, const void* bytes)
{
    if (!owns(stream) || stream->finished)
        return -1;
    if (length < 0 || (length > 0 && !bytes)) {
        finish(*stream, false, "malformed write");
        return -1;
    }
    if (stream->body.size() + size_t(length) > maxBody_) {
        finish(*stream, false, "stream longer than the player accepts");
        return -1;
    }
    // Pieces are taken in arrival order; offsets are advisory (some hosts pass
    // 0 with every piece of a download).
    (void)offset;
    auto p = static_cast<const uint8_t*>(bytes);
    stream->body.insert(stream->body.end(), p, p + length);
    stream->nextOffset += length;
    // A host that notified before the last piece arrived gets its answer now.
    if (stream->cookie) {
        auto it = requests_.find(stream->cookie);
        if (it != requests_.end() && it->second.notified && stream->complete())
            finish(*stream, true, {});
    }
    return length;
}

void RequestTracker::finish(Stream& s, bool delivered, std::string why)
{
    if (s.finished)
        return;
    s.finished = true;
    Outcome o;
    o.delivered = delivered;
    o.cookie = s.cookie;
    o.requestId = s.requestId;
    o.url = s.url;
    o.why = std::move(why);
    if (delivered)
        o.data = std::move(s.body);
    s.body.clear();
    outcomes_.push_back(std::move(o));
    if (s.cookie) {
        auto it = requests_.find(s.cookie);
        if (it != requests_.end()) {
            it->second.stream = nullptr;
            requests_.erase(it);
        }
    }
}

void RequestTracker::closeStream(Stream* stream, int reason)
{
    if (!owns(stream))
        return;
    if (!stream->finished)
        finish(*stream, reason == kReasonDone, reason == kReasonDone ? "" : "stream ended with reason " + std::to_string(reason));
    streams_.remove_if([&](auto& s) { return s.get() == stream; });
}

void RequestTracker::notify(uintptr_t cookie, int reason)
{
    auto it = requests_.find(cookie);
    if (it == requests_.end())
        return;  // already answered (the usual order: stream destroyed first)
    Request& r = it->second;
    if (reason != kReasonDone) {
        failRequest(cookie, r, "request ended with reason " + std::to_string(reason));
        return;
    }
    if (!r.stream) {
        failRequest(cookie, r, "request ended without data");
        return;
    }
    if (r.stream->complete()) {
        finish(*r.stream, true, {});
        return;
    }
    // Length unknown or not all there yet: the end of the stream decides.
    r.notified = true;
}

std::vector<Outcome> RequestTracker::takeOutcomes()
{
    std::vector<Outcome> out;
    out.swap(outcomes_);
    return out;
}

}  // namespace refplugin
