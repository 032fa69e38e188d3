// What refplay's commands share between their files.
#pragma once

#include "refplay.h"

#include "media/flv.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace refplayer::tool {

// More tags than the engine would take in one movie are refused in FLV files
// too: the report of each would be larger than any useful file.
constexpr size_t kMaxFlvTags = size_t(1) << 20;

std::string_view videoCodecName(unsigned codec);

// Calls fn(const media::FlvTag&) for every tag; damage that breaks the tag
// chain is a ToolError.
template <typename Fn>
void forEachFlvTag(std::span<const uint8_t> file, Fn&& fn)
{
    media::FlvReader reader(file);
    if (!reader.readHeader())
        throw ToolError("not a usable FLV: " + reader.error());
    media::FlvTag tag;
    for (size_t count = 0;; ++count) {
        const auto result = reader.next(tag);
        if (result == media::FlvReader::Result::End)
            return;
        if (result == media::FlvReader::Result::Error)
            throw ToolError("not a usable FLV: " + reader.error());
        if (count >= kMaxFlvTags)
            throw ToolError("more than " + std::to_string(kMaxFlvTags) + " FLV tags");
        fn(tag);
    }
}

struct PictureSize {
    int width = 0, height = 0;
};
// The picture size a packet of `codec` declares in its own header (Screen
// Video, Screen Video 2 and Sorenson Spark do; nullopt for other codecs).
std::optional<PictureSize> videoPictureSize(unsigned codec, std::span<const uint8_t> packet);

}  // namespace refplayer::tool
