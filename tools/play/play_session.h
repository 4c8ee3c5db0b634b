// The player behind qvbplay: one output that stays open, the song on it, and
// what a musician steers (pause, seek, restart, mute, solo, reload). Every
// jump is a fresh player run silently to the target frame and swapped in
// while the queue is dropped, so it is heard at once and sounds exactly as
// if the song had played there from the start. The position is what the
// device has played, counted from the last swap.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "compiler/source_map.h"
#include "play/channel_activity.h"
#include "play/song_beats.h"
#include "render/song_figures.h"
#include "sound/audio_output.h"

namespace qvb {

class QvbPlayer;
class PullStream;

// What the display shows of one channel, at the frame heard.
struct ChannelView {
  char letter = 'A';
  int note = -1;  // as the source wrote it: octave * 12 + semitone; -1 = silent
  int level = 0;  // the louder side's volume, 0..255
  bool muted = false;
};

class PlaySession {
 public:
  // loops: stop after the song has looped this often (0: play for ever).
  PlaySession(AudioPlatform& platform, int loops);
  ~PlaySession();
  PlaySession(const PlaySession&) = delete;
  PlaySession& operator=(const PlaySession&) = delete;

  bool outputRunning() const { return output_.running(); }
  int sampleRate() const;

  // Plays a QVB image from the given frame; false (nothing changes) when the
  // player refuses it. A song already playing is replaced. With the source's
  // map and lines, the display can show where each channel is in the text.
  bool open(std::vector<std::uint8_t> image, std::int64_t from, SourceMap map = {},
            std::vector<std::string> lines = {});
  // The edited song continues where the old one is heard now: at the same
  // bar and beat (the tick the display shows, in the new song's first pass
  // through it) once the old song's beats are known, before that at the
  // same time.
  bool reload(std::vector<std::uint8_t> image, SourceMap map = {}, std::vector<std::string> lines = {});
  bool hasSong() const { return player_ != nullptr; }

  void togglePause();
  bool paused() const { return paused_; }
  void seekTo(std::int64_t frame);
  void seekBy(std::int64_t frames);
  void restart() { seekTo(0); }
  // Channels are 0-based; ones the song does not have are ignored.
  void toggleMute(int channel);
  // Mutes every other channel; soloing the only one heard unmutes all.
  void solo(int channel);
  void setMuted(int channel, bool muted);
  bool muted(int channel) const;
  // Silence at once: the queue is dropped and the song let go.
  void stop();

  // The frame of the song heard now.
  std::int64_t position() const;
  int channelCount() const;
  std::vector<ChannelView> channels() const;
  const std::string& title() const { return title_; }
  // The notes and rests heard since the last call (none of a seek's silent
  // run up to its target), with their place in the source when known.
  struct HeardEvent {
    std::int64_t frame = 0;
    int channel = 0;
    int note = -1;  // -1: a rest or the channel's end
    std::int32_t offset = -1, line = 0, row = 0;  // line 0: no source place
  };
  std::vector<HeardEvent> takeHeard();
  // The source line a channel is playing at the frame heard, and the row of
  // its note in it; false when the song came without a source.
  bool sourceAt(int channel, std::string& line, std::int32_t& lineNumber, std::int32_t& row) const;
  std::int32_t tickInterval() const;
  std::int64_t underruns() const { return output_.underruns(); }
  SongFigures figures() const;
  // The tick sounding at a frame of the song, from the same run as the
  // figures; -1 until they are known.
  std::int64_t tickAt(std::int64_t frame) const;
  // Loops heard so far (0 in the intro or when the loop is unknown).
  int loopsHeard() const;
  // True once the wanted loops, or a song that finishes, have been heard.
  bool reachedEnd() const;

 private:
  bool startAt(std::int64_t frame);
  std::int64_t reloadFrame(const std::vector<std::uint8_t>& image) const;
  const AudioFormat& streamFormat() const;
  void applyMutes();
  void measure();
  void stopMeasuring();

  AudioOutput output_;
  int loops_;
  std::vector<std::uint8_t> image_;
  std::string title_;  // of image_, up to its first zero byte
  SourceMap map_;      // of image_'s source, when it had one
  std::vector<std::string> lines_;
  std::unique_ptr<QvbPlayer> player_;
  std::unique_ptr<PullStream> stream_;  // player_'s sound, as the output takes it
  std::unique_ptr<ChannelActivity> activity_;  // what player_'s sequencer reported
  std::vector<bool> muted_;
  bool paused_ = false;
  std::int64_t base_ = 0;        // song frame at the last swap
  std::int64_t basePlayed_ = 0;  // device frames played at the last swap
  std::int64_t latency_ = 0;     // frames queued ahead of the swap that still play

  mutable std::mutex figuresMutex_;
  SongFigures figures_;
  SongBeats beats_;
  std::atomic<bool> cancel_{false};
  std::thread measuring_;
};

}  // namespace qvb
