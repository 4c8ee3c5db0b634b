// The image writer: assembles a compiled song into a QVB image of version 0.85
// (the layout with offsets and a wave list): header, title, channel table, the
// track blocks back to back in channel order, then the wave list.
#pragma once

#include <cstdint>
#include <vector>

#include "compiler/channel_buffers.h"
#include "compiler/song_header.h"

namespace qvb {

// The whole image, written into the storage of room (whose bytes are no
// longer needed) when it is large enough, so that memory already in use takes
// it; throws std::bad_alloc only when memory runs out.
std::vector<std::uint8_t> writeImage(const SongHeader& header, const ChannelBuffers& tracks,
                                     std::vector<std::uint8_t>&& room = {});

}  // namespace qvb
