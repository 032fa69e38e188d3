// The checked-in clips (tests/media/clips), by file name.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace media_clips {

// The clip's bytes; empty when no clip has that name.
std::span<const uint8_t> clip(std::string_view name);

}  // namespace media_clips
