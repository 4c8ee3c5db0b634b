#include "lsp/song_hover.h"

#include <array>
#include <cstdio>

#include "lsp/guide_help.h"
#include "lsp/song_document.h"
#include "lsp/song_places.h"
#include "lsp/song_tokens.h"
#include "song/pitch_tables.h"
#include "song/qvb_player.h"
#include "song/sequencer_events.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"

namespace qvb::lsp {
namespace {

// A tick comes every 2 * interval frames of the Mixer's 44100 a second (its
// timers count two values a frame): ticks * interval / 22050 s.
constexpr double kIntervalsPerSecond = 22050.0;

constexpr std::array<const char*, 12> kNoteNames = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};

// Watches the sequencer for the first note or rest read from one item.
class ItemWatch final : public SequencerObserver {
 public:
  ItemWatch(int channel, std::int32_t offset) : channel_(channel), offset_(offset) {}
  void onSequencerEvent(const SequencerEvent& event) override {
    if (found_) return;
    if (event.kind == SequencerEventKind::ChannelEnd || event.kind == SequencerEventKind::JumpToMark) {
      if (event.channel == channel_) channelDone_ = true;
      return;
    }
    if ((event.kind == SequencerEventKind::NoteOn || event.kind == SequencerEventKind::Rest) &&
        event.channel == channel_ && event.offset == offset_) {
      found_ = event;
    }
  }
  void onTimerDone(SequencerTimer, std::int64_t) override { ++callbacks_; }

  std::optional<SequencerEvent> found_;
  bool channelDone_ = false;
  std::int64_t callbacks_ = 0;

 private:
  int channel_;
  std::int32_t offset_;
};

// The sequencer's first reading of the item at that offset of the channel's
// block, or nothing when the channel never reaches it in time.
std::optional<SequencerEvent> playedItem(const LoadedSong& song, int channel, std::int32_t offset,
                                        std::int64_t maxCallbacks) {
  QvbPlayer player(song.image.data(), song.image.size());
  if (player.getStatus() < PLAYER_READY) return std::nullopt;
  ItemWatch watch(channel, offset);
  player.setObserver(&watch);
  player.start();
  Mixer* mixer = player.mixer();
  if (mixer == nullptr) return std::nullopt;
  mixer->SetRendering(false);
  PullStream stream(*mixer);
  while (!watch.found_ && !watch.channelDone_ && watch.callbacks_ < maxCallbacks &&
         player.context().tickInterval > 0)
    stream.skipFrames(1 << 14);
  player.setObserver(nullptr);
  return watch.found_;
}

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string itemText(const SequencerEvent& event, std::string_view written) {
  const char channel = static_cast<char>('A' + event.channel);
  const std::string length = std::to_string(event.ticks) + " ticks, " +
                             seconds(event.ticks * static_cast<double>(event.interval) / kIntervalsPerSecond) +
                             " s at this tempo";
  if (event.kind == SequencerEventKind::Rest) return "**rest**, " + length + ", channel " + channel;
  const int note = event.note;
  std::string name = kNoteNames[static_cast<std::size_t>(note % 12)];
  std::string text = "**" + name + "**";
  const std::string asWritten(written.substr(0, written.find_first_not_of("abcdefg+#-", 1)));
  if (asWritten != name) text += " (written " + asWritten + ")";
  text += ", octave " + std::to_string(note / 12);
  if (note >= 0 && note < kNoteCount) text += ", " + std::to_string(kNoteFrequency[static_cast<std::size_t>(note)]) + " Hz";
  return text + ", " + length + ", channel " + channel;
}

// The item of the source map that begins at the token: its channel and offset.
std::optional<std::pair<int, std::int32_t>> mappedItem(const SourceMap& map, std::size_t line, std::size_t column) {
  for (int c = 0; c < map.channelCount(); ++c)
    for (const SourcePlace& place : map.places(c))
      if (static_cast<std::size_t>(place.line) == line + 1 && static_cast<std::size_t>(place.row) == column + 1)
        return std::pair{c, place.offset};
  return std::nullopt;
}

// A timbre that picks a wave slot: what its #WAV says, or that none does.
std::string waveText(const SongDocument& document, const SongPlace& use) {
  const std::string slot = "wave slot " + std::to_string(use.number);
  const std::vector<SongPlace> definitions = document.places().definitionsOf(use);
  if (definitions.empty()) return "**" + slot + "**: no `#WAV " + std::to_string(use.number) + "` fills it (a wave voice plays silence)";
  const SongPlace& wave = definitions.back();  // the last definition of a slot is the one played
  return "**" + slot + "**, line " + std::to_string(wave.line + 1) + ":\n\n```\n" +
         std::string(document.lines().line(wave.line)) + "\n```";
}

}  // namespace

std::optional<Hover> songHover(const SongDocument& document, std::size_t line, std::size_t column,
                               std::int64_t maxCallbacks) {
  if (line >= document.lines().lineCount()) return std::nullopt;
  const std::optional<LineToken> token = tokenAt(document.lines().line(line), column);
  if (!token) return std::nullopt;
  Hover hover{{}, line, token->start, token->end};
  const char first = token->text[0];
  const bool noteOrRest = (first >= 'a' && first <= 'g') || first == 'r';
  if (noteOrRest && document.song().ok()) {
    if (const auto item = mappedItem(document.song().map, line, token->start)) {
      if (const auto event = playedItem(document.song(), item->first, item->second, maxCallbacks)) {
        hover.markdown = itemText(*event, token->text);
        return hover;
      }
    }
  }
  const std::string key = helpKeyOf(token->text);
  const std::optional<SongPlace> place = document.places().at(line, column);
  if (place && place->kind == PlaceKind::Wave && place->line == line && token->text[0] == '@') {
    hover.markdown = waveText(document, *place) + (key.empty() ? "" : "\n\n---\n\n" + helpMarkdown(key));
    return hover;
  }
  if (key.empty()) return std::nullopt;
  hover.markdown = helpMarkdown(key);
  return hover;
}

}  // namespace qvb::lsp
