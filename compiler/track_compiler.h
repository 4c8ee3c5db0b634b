// The command compiler: turns the MML text of every song channel (reader
// channels 1..channelCount) into track bytes, one buffer per channel, each
// ending with END. The command set is single-character MML: notes and rests
// with lengths, octave, tempo, volume, gate, effects and loops.
#pragma once

#include "compiler/channel_buffers.h"
#include "compiler/mml_source.h"
#include "compiler/song_header.h"
#include "compiler/source_map.h"

namespace qvb {

inline constexpr int kTempoBase = 27562;    // tick interval = kTempoBase / tempo
inline constexpr int kMaxNoteTicks = 65534;  // longest length field

// Where a faulty command lies, for a person: its channel (1-based), where
// the command began, and for a loop left open, where that loop began. The
// reader's position says where the reads stopped, which at a channel's end
// is no place in the text.
struct CommandFault {
  std::int32_t channel = 0;
  std::int32_t line = 0, row = 0;
  std::int32_t openLine = 0, openRow = 0;
};

// Returns 0, ERR_MEMORY when the buffers failed, or the code of the first
// faulty command; the reader's position is then the place of the fault, and
// fault (when given) the command's. With a map, every command's items are
// entered in it with their place.
int compileTracks(MmlSource& reader, const SongHeader& header, ChannelBuffers& tracks,
                  SourceMap* map = nullptr, CommandFault* fault = nullptr);

}  // namespace qvb
