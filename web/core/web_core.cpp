// The page's entry points (web_core.h) over the song loader, the exporter,
// the render session and a pull player.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "compiler/song_warnings.h"
#include "export/asm_exporter.h"
#include "gameboy/gb_files.h"
#include "gameboy/gb_song.h"
#include "loader/song_loader.h"
#include "render/render_session.h"
#include "render/song_figures.h"
#include "song/qvb_format.h"
#include "song/qvb_player.h"
#include "song/sequencer_events.h"
#include "song/track.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "sound/voice.h"
#include "web/core/repeat_passes.h"
#include "web/core/web_core.h"

#ifdef __EMSCRIPTEN__
#define QVBW_EXPORT extern "C" __attribute__((used, visibility("default")))
#else
#define QVBW_EXPORT extern "C"  // natively for the tests and fuzzers
#endif

namespace {

struct Loaded {
  qvb::LoadedSong song;
  int channels = 0;
  std::string diagnosis;
};

Loaded loaded;
std::string text;
std::vector<std::int16_t> samples;
qvb::RenderResult rendered;
std::vector<qvb::SongWarning> warnings;
std::vector<std::string> warningTexts;

// One sequencer event as the page reads it: eight 32-bit values. offset is
// where its item begins in the channel's block (-1 for none); line and row
// are that item's place in the source (0 when it is not known).
struct SurveyEvent {
  std::int32_t kind, channel, frame, note, ticks, offset, line, row;
};
static_assert(sizeof(SurveyEvent) == 32);

// The events of a render, up to a limit: the page draws the song from them.
// Every event also goes on to `also`, if set.
class EventList : public qvb::SequencerObserver {
 public:
  void onSequencerEvent(const qvb::SequencerEvent& e) override {
    if (also != nullptr) also->onSequencerEvent(e);
    if (events.size() >= limit) {
      truncated = true;
      return;
    }
    events.push_back({static_cast<std::int32_t>(e.kind), e.channel, static_cast<std::int32_t>(e.frame), e.note,
                      e.ticks, e.offset, 0, 0});
  }
  std::vector<SurveyEvent> events;
  std::size_t limit = 0;
  bool truncated = false;
  qvb::SequencerObserver* also = nullptr;
};
EventList surveyed;
std::vector<qvb::web::RepeatPass> repeatPasses;

// The bytes the page handed over, or nothing when the pointer and size do
// not describe any: a null pointer holds no bytes, a negative size is none.
bool validBytes(const std::uint8_t* bytes, int size) { return size >= 0 && (bytes != nullptr || size == 0); }

// A real pointer even for no bytes at all, which are no image and no source.
const std::uint8_t* bytesOf(const std::uint8_t* bytes) {
  static const std::uint8_t kNothing = 0;
  return bytes ? bytes : &kNothing;
}

int loadSong(const std::uint8_t* bytes, int size) {
  loaded = Loaded{};
  if (!validBytes(bytes, size)) return QVBW_BAD_ARGUMENT;
  loaded.song = qvb::loadSong({bytesOf(bytes), static_cast<std::size_t>(size)});
  if (!loaded.song.ok()) return QVBW_REFUSED;
  loaded.channels = static_cast<int>(loaded.song.view.channels.size());
  return QVBW_DONE;
}

}  // namespace

// One song playing in the audio worklet: the player's Mixer has voices and
// timers but no output; the worklet's pulls take its sound through a stream,
// cut as a sound card's output would be.
struct WebPlayer {
  qvb::QvbPlayer player;
  std::unique_ptr<qvb::PullStream> stream;
  std::vector<std::int16_t> buffer;
  std::vector<std::int32_t> levels;
};

namespace {

constexpr int kMaxFillFrames = 8192;

// The surveyed events placed in the source of the last song loaded, when the
// image surveyed is that song's: only then do its offsets mean its text.
void placeSurveyed(std::span<const std::uint8_t> image) {
  const qvb::LoadedSong& song = loaded.song;
  if (!song.ok() || song.map.channelCount() == 0) return;
  if (!std::equal(image.begin(), image.end(), song.image.begin(), song.image.end())) return;
  for (SurveyEvent& e : surveyed.events) {
    qvb::SourcePlace place;
    if (e.offset >= 0 && song.map.find(e.channel, e.offset, place)) {
      e.line = place.line;
      e.row = place.row;
    }
  }
}

}  // namespace

// QVBW_DONE with the image ready (qvbw_image), QVBW_REFUSED with the reason
// (qvbw_error_*), or another status.
QVBW_EXPORT int qvbw_load(const std::uint8_t* bytes, int size) {
  try {
    return loadSong(bytes, size);
  } catch (const std::bad_alloc&) {
    loaded = Loaded{};
    return QVBW_NO_MEMORY;
  }
}

QVBW_EXPORT const std::uint8_t* qvbw_image() { return loaded.song.image.data(); }
QVBW_EXPORT int qvbw_image_size() { return static_cast<int>(loaded.song.image.size()); }
QVBW_EXPORT int qvbw_image_channels() { return loaded.channels; }
QVBW_EXPORT int qvbw_error_code() { return loaded.song.diagnosis.error.type; }
QVBW_EXPORT int qvbw_error_line() { return loaded.song.diagnosis.error.line; }
QVBW_EXPORT int qvbw_error_row() { return loaded.song.diagnosis.error.row; }

namespace {

// The first error (index -1) or a later one, worded for the named file.
const char* describe(int index, const char* file) {
  const auto& later = loaded.song.laterErrors;
  const bool first = index < 0;
  if (!first && static_cast<std::size_t>(index) >= later.size()) return "";
  try {
    loaded.diagnosis = qvb::describeProblem(first ? loaded.song.diagnosis : later[static_cast<std::size_t>(index)],
                                            file ? file : "song");
  } catch (const std::bad_alloc&) {
    loaded.diagnosis.clear();
  }
  return loaded.diagnosis.c_str();
}

const qvb::CompileError* laterError(int index) {
  const auto& later = loaded.song.laterErrors;
  return index >= 0 && static_cast<std::size_t>(index) < later.size() ? &later[static_cast<std::size_t>(index)].error
                                                                      : nullptr;
}

}  // namespace

// The refusal as the command-line tools print it, naming the given file.
QVBW_EXPORT const char* qvbw_diagnosis(const char* file) { return describe(-1, file); }

// The errors found after the first one, in the text's order.
QVBW_EXPORT int qvbw_later_error_count() { return static_cast<int>(loaded.song.laterErrors.size()); }
QVBW_EXPORT int qvbw_later_error_line(int index) { return laterError(index) ? laterError(index)->line : 0; }
QVBW_EXPORT int qvbw_later_error_row(int index) { return laterError(index) ? laterError(index)->row : 0; }
QVBW_EXPORT const char* qvbw_later_diagnosis(int index, const char* file) { return index < 0 ? "" : describe(index, file); }

// The exporter's result code (0 = converted); the text is in qvbw_text.
QVBW_EXPORT int qvbw_export_asm(const std::uint8_t* image, int size) {
  text.clear();
  if (!validBytes(image, size)) return qvb::ASM_BAD_MAGIC;
  try {
    return qvb::AsmExporter::convert(text, bytesOf(image), static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    text.clear();
    return qvb::ASM_WRITE_FAILED;
  }
}

// A Game Boy file of the song: kind 0 a ROM (.gb), 1 a GBS file. QVBW_DONE
// with the bytes in qvbw_game_boy_bytes; QVBW_REFUSED when the song does not
// fit, the reason (naming the channel to blame) in qvbw_text.
std::vector<std::uint8_t> gameBoyFile;
QVBW_EXPORT int qvbw_game_boy(const std::uint8_t* image, int size, int kind) {
  text.clear();
  gameBoyFile.clear();
  if (!validBytes(image, size) || kind < 0 || kind > 1) return QVBW_BAD_ARGUMENT;
  try {
    const qvb::ImageView view = qvb::viewImage({bytesOf(image), static_cast<std::size_t>(size)});
    if (!view.ok()) {
      text = "not a readable song image";
      return QVBW_REFUSED;
    }
    const qvb::gb::GbSong song = qvb::gb::buildGbSong({bytesOf(image), static_cast<std::size_t>(size)});
    qvb::gb::GbFile file = kind == 0 ? qvb::gb::makeRom(song) : qvb::gb::makeGbs(song);
    if (!file.ok) {
      text = file.refusal;
      return QVBW_REFUSED;
    }
    gameBoyFile = std::move(file.bytes);
    return QVBW_DONE;
  } catch (const std::bad_alloc&) {
    text = "out of memory";
    gameBoyFile.clear();
    return QVBW_NO_MEMORY;
  }
}
QVBW_EXPORT const std::uint8_t* qvbw_game_boy_bytes() { return gameBoyFile.data(); }
QVBW_EXPORT int qvbw_game_boy_size() { return static_cast<int>(gameBoyFile.size()); }

QVBW_EXPORT const char* qvbw_text() { return text.data(); }
QVBW_EXPORT int qvbw_text_size() { return static_cast<int>(text.size()); }

// Renders exactly as the offline renderer does: lengthFrames -1 means up to
// the song's end after `loops` loops (at least 1), then a fade of fadeFrames
// (0 or more). QVBW_DONE with the samples in qvbw_samples; QVBW_REFUSED when
// the song cannot be played.
QVBW_EXPORT int qvbw_render(const std::uint8_t* image, int size, int lengthFrames, int loops,
                            int fadeFrames) {
  samples = {};
  rendered = qvb::RenderResult{};
  if (!validBytes(image, size) || lengthFrames < -1 || loops < 1 || fadeFrames < 0) return QVBW_BAD_ARGUMENT;
  qvb::RenderOptions options;
  options.lengthFrames = lengthFrames;
  options.loops = loops;
  options.fadeFrames = fadeFrames;
  try {
    const bool ok = qvb::renderSong(
        bytesOf(image), static_cast<std::size_t>(size), options,
        [](const std::int16_t* part, std::int64_t frames) {
          samples.insert(samples.end(), part, part + 2 * frames);
          return true;
        },
        rendered);
    if (!ok) samples = {};
    return ok ? QVBW_DONE : QVBW_REFUSED;
  } catch (const std::bad_alloc&) {
    samples = {};
    return QVBW_NO_MEMORY;
  }
}

// The warnings qvbrender prints for a source ("FILE:LINE:ROW: warning: TEXT"),
// none for an image. QVBW_DONE with them in qvbw_warning_*.
QVBW_EXPORT int qvbw_warnings(const std::uint8_t* source, int size, const char* file) {
  warnings = {};
  warningTexts = {};
  if (!validBytes(source, size)) return QVBW_BAD_ARGUMENT;
  try {
    const std::span<const std::uint8_t> bytes(bytesOf(source), static_cast<std::size_t>(size));
    if (qvb::hasMagic(bytes)) return QVBW_DONE;
    warnings = qvb::songWarnings(bytes);
    for (const qvb::SongWarning& w : warnings) warningTexts.push_back(qvb::formatWarning(w, file ? file : "song"));
    return QVBW_DONE;
  } catch (const std::bad_alloc&) {
    warnings = {};
    warningTexts = {};
    return QVBW_NO_MEMORY;
  }
}

QVBW_EXPORT int qvbw_warning_count() { return static_cast<int>(warnings.size()); }
QVBW_EXPORT int qvbw_warning_line(int i) {
  return i >= 0 && i < qvbw_warning_count() ? warnings[static_cast<std::size_t>(i)].line : 0;
}
QVBW_EXPORT int qvbw_warning_row(int i) {
  return i >= 0 && i < qvbw_warning_count() ? warnings[static_cast<std::size_t>(i)].row : 0;
}
QVBW_EXPORT const char* qvbw_warning_text(int i) {
  return i >= 0 && i < qvbw_warning_count() ? warningTexts[static_cast<std::size_t>(i)].c_str() : "";
}

// Follows the song as qvbw_render with lengthFrames -1 does, keeping no sound:
// its figures (qvbw_render_*), its sequencer events with their frames, at
// most maxEvents of them (1..1048576), and as many passes of its /: :/ loops
// (qvbw_survey_repeats). When the image is the one the last qvbw_load
// compiled, each note and rest also carries the line and row of its command
// in that source. QVBW_DONE with the events in qvbw_survey_events;
// QVBW_REFUSED when the song cannot be played.
QVBW_EXPORT int qvbw_survey(const std::uint8_t* image, int size, int loops, int maxEvents) {
  samples = {};
  rendered = qvb::RenderResult{};
  surveyed = EventList{};
  repeatPasses = {};
  if (!validBytes(image, size) || loops < 1 || maxEvents < 1 || maxEvents > (1 << 20)) return QVBW_BAD_ARGUMENT;
  const std::span<const std::uint8_t> bytes(bytesOf(image), static_cast<std::size_t>(size));
  try {
    const qvb::ImageView view = qvb::viewImage(bytes);
    std::optional<qvb::web::RepeatPasses> repeats;
    const auto surveyWith = [&](int passes) {
      surveyed = EventList{};
      surveyed.limit = static_cast<std::size_t>(maxEvents);
      rendered = qvb::RenderResult{};
      repeats.emplace(view.ok() ? view.channels : decltype(view.channels){}, surveyed.limit);
      surveyed.also = &*repeats;
      qvb::RenderOptions options;
      options.loops = passes;
      options.observer = &surveyed;
      const bool ok = qvb::renderSong(
          bytes.data(), bytes.size(), options, [](const std::int16_t*, std::int64_t) { return true; }, rendered);
      surveyed.also = nullptr;
      return ok;
    };
    bool ok = surveyWith(loops);
    // The page draws the song's loop once at least: when a channel without
    // a loop plays on past the others' marks, the loop starts later, and the
    // looping channels go round as often as it takes to reach its end.
    const qvb::SongFigures figures = qvb::songFigures(rendered);
    const std::int64_t loopEnd = figures.introFrames + figures.loopFrames;
    if (ok && figures.loopFrames > 0 && rendered.endFrame >= 0 && loopEnd > rendered.endFrame) {
      std::int64_t passes = loops;
      for (const qvb::ChannelEvents& c : rendered.channels) {
        if (c.markFrame >= 0)
          passes = std::max(passes, (loopEnd - c.markFrame + figures.loopFrames - 1) / figures.loopFrames);
      }
      ok = surveyWith(static_cast<int>(std::min<std::int64_t>(passes, 1 << 16)));
    }
    if (!ok) {
      surveyed = EventList{};
      return QVBW_REFUSED;
    }
    placeSurveyed(bytes);
    repeats->finish(rendered.endFrame >= 0 ? rendered.endFrame : rendered.framesWritten);
    repeatPasses = repeats->passes();
    surveyed.truncated = surveyed.truncated || repeats->truncated();
    return QVBW_DONE;
  } catch (const std::bad_alloc&) {
    surveyed = EventList{};
    repeatPasses = {};
    return QVBW_NO_MEMORY;
  }
}

QVBW_EXPORT const std::int32_t* qvbw_survey_events() {
  return reinterpret_cast<const std::int32_t*>(surveyed.events.data());
}
QVBW_EXPORT int qvbw_survey_event_count() { return static_cast<int>(surveyed.events.size()); }
QVBW_EXPORT int qvbw_survey_truncated() { return surveyed.truncated ? 1 : 0; }
// The passes of the surveyed song's loops, six values each (qvb::web::RepeatPass).
QVBW_EXPORT const std::int32_t* qvbw_survey_repeats() { return reinterpret_cast<const std::int32_t*>(repeatPasses.data()); }
QVBW_EXPORT int qvbw_survey_repeat_count() { return static_cast<int>(repeatPasses.size()); }

QVBW_EXPORT const std::int16_t* qvbw_samples() { return samples.data(); }
QVBW_EXPORT int qvbw_sample_frames() { return static_cast<int>(samples.size() / 2); }
QVBW_EXPORT int qvbw_render_end_frame() { return static_cast<int>(rendered.endFrame); }
// The last render's (or survey's) figures as qvbrender reports them: where
// the intro ends (the last loop mark; -1 when no channel loops), the loop
// every looping channel shares (-1 when none, or they differ), and 1 when the
// song ends in silence.
QVBW_EXPORT int qvbw_render_intro_frame() { return static_cast<int>(qvb::songFigures(rendered).introFrames); }
QVBW_EXPORT int qvbw_render_loop_frames() { return static_cast<int>(qvb::songFigures(rendered).loopFrames); }
QVBW_EXPORT int qvbw_render_finished() { return rendered.finished ? 1 : 0; }

// A player for the image, or null when it is refused or memory ran out.
QVBW_EXPORT WebPlayer* qvbw_player_new(const std::uint8_t* image, int size) {
  if (!validBytes(image, size)) return nullptr;
  try {
    auto web = std::make_unique<WebPlayer>();
    web->buffer.resize(2 * kMaxFillFrames);
    if (web->player.load(bytesOf(image), static_cast<std::size_t>(size)) < 0) return nullptr;
    if (web->player.start() != 1) return nullptr;
    web->stream = std::make_unique<qvb::PullStream>(*web->player.mixer());
    return web.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

QVBW_EXPORT void qvbw_player_free(WebPlayer* web) { delete web; }

// Renders the next frames (at most 8192) and returns the interleaved stereo
// samples, or null for no player.
QVBW_EXPORT const std::int16_t* qvbw_player_fill(WebPlayer* web, int frames) {
  if (web == nullptr || frames <= 0 || frames > kMaxFillFrames) return nullptr;
  web->stream->pullFrames(web->buffer.data(), frames);
  return web->buffer.data();
}

QVBW_EXPORT int qvbw_player_channels(const WebPlayer* web) {
  return web ? web->player.getChannelCount() : 0;
}

QVBW_EXPORT void qvbw_player_mute(WebPlayer* web, int channel, int muted) {
  if (web == nullptr) return;
  if (qvb::Mixer* mixer = web->player.mixer()) mixer->SetMuted(channel, muted != 0);
}

// Each channel's level now, right and left, as its voice holds it (16 times
// the v value, so 240 for v15, falling as a release fades; 0 once the note
// is cut): the page's meters. Null for no player; valid until the next call.
QVBW_EXPORT const std::int32_t* qvbw_player_levels(WebPlayer* web) {
  if (web == nullptr || web->player.mixer() == nullptr) return nullptr;
  qvb::Mixer& mixer = *web->player.mixer();
  const int count = mixer.voiceCount();
  try {
    std::vector<qvb::Voice*> voices(static_cast<std::size_t>(count));
    const int n = mixer.CopyVoices(voices.data(), count);
    web->levels.assign(static_cast<std::size_t>(2 * count), 0);
    for (int i = 0; i < n; ++i) {
      web->levels[static_cast<std::size_t>(2 * i)] = voices[static_cast<std::size_t>(i)]->volumeRight;
      web->levels[static_cast<std::size_t>(2 * i + 1)] = voices[static_cast<std::size_t>(i)]->volumeLeft;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return web->levels.data();
}

// The loops heard so far: the fewest jumps back to the mark among the
// channels that have one (0 when none loops).
QVBW_EXPORT int qvbw_player_loops(const WebPlayer* web) {
  if (web == nullptr) return 0;
  int fewest = -1;
  for (int i = 0; i < web->player.getChannelCount(); ++i) {
    const qvb::Track& track = web->player.tracks()[i];
    if (track.loopMark == 0) continue;
    if (fewest < 0 || track.loopJumps < fewest) fewest = track.loopJumps;
  }
  return fewest < 0 ? 0 : fewest;
}

// 1 once every channel has finished: only silence follows.
QVBW_EXPORT int qvbw_player_finished(const WebPlayer* web) {
  if (web == nullptr) return 1;
  for (int i = 0; i < web->player.getChannelCount(); ++i)
    if (web->player.tracks()[i].wait != 0) return 0;
  return 1;
}
