// The song player: keeps its own copy of a QVB image, checks it, holds one
// Track per channel and, while playing, the Mixer whose timers run the
// sequencer. Construction loads; the outcome is read from getStatus().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "song/qvb_format.h"
#include "song/track.h"
#include "sound/audio_platform.h"

namespace qvb {

class Mixer;

enum PlayerStatus : std::int32_t {
  PLAYER_NO_IMAGE = 0,
  PLAYER_NO_MEMORY = -1,
  PLAYER_BAD_MAGIC = -2,
  PLAYER_BAD_VERSION = -3,
  // The image is shorter than its fixed header, or its title, channel table,
  // channel blocks or wave list lie past its end.
  PLAYER_BAD_IMAGE = -4,
  PLAYER_READY = 2,
  PLAYER_PLAYING = 3,
};

// Which part of a refused image (PLAYER_BAD_IMAGE) lies past its end.
using PlayerFault = ImageFault;

// "the title", "the channel table", ...: the part named in a diagnosis.
const char* playerFaultText(PlayerFault fault);

class QvbPlayer {
 public:
  QvbPlayer() = default;
  QvbPlayer(const std::uint8_t* bytes, std::size_t size);
  ~QvbPlayer();
  QvbPlayer(const QvbPlayer&) = delete;
  QvbPlayer& operator=(const QvbPlayer&) = delete;

  // A refused image (null bytes too) leaves a loaded song in place and
  // returns the refusal; with no song loaded the refusal becomes the status.
  int load(const std::uint8_t* bytes, std::size_t size);
  // The same for an image the caller hands over: its bytes become the
  // player's without a copy (on a refusal they are dropped).
  int load(std::vector<std::uint8_t>&& image);
  int release();
  int reset();
  // Rewinds and starts the song on a new Mixer over the given output. 1 when
  // the output opened; 0 when it did not (the song is then silent) or there
  // is no song (nothing changes then).
  int play(AudioPlatform& platform);
  // For pull hosts: rewinds and makes a Mixer with no output, its waves and
  // timers installed; the host takes the song's sound through a PullStream
  // on mixer(). 1 when the Mixer could run the song; 0, and nothing changes,
  // when there is no song.
  int start();

  int getStatus() const { return status_; }
  // Why the last load was refused as PLAYER_BAD_IMAGE, and for a channel
  // block which channel (0-based).
  PlayerFault lastFault() const { return fault_; }
  int faultChannel() const { return faultChannel_; }
  float getVersion() const;
  int getTitle(char* dest, int size) const;
  int getChannelCount() const { return context_.channelCount; }

  // Hands the sequencer's events to the observer (null: to nobody), for this
  // and every later image. Set it while no song plays.
  void setObserver(SequencerObserver* observer);

  // For tools and tests that watch a song: the tracks, the context the
  // sequencer runs on, and the Mixer while playing (null otherwise).
  const Track* tracks() const { return tracks_.data(); }
  // The loaded image's parts (empty when none is loaded).
  const ImageView& view() const { return view_; }
  const DriverContext& context() const { return context_; }
  Mixer* mixer() const { return mixer_.get(); }

 private:
  int parse(std::vector<std::uint8_t>&& image);
  // Takes the song of a fresh player that parsed an image with this status.
  int adopt(QvbPlayer& next, int status);
  void take();
  int refuse(int status);
  void dropImage();
  // platform null: a Mixer without output.
  int createMixer(AudioPlatform* platform);
  void releaseMixer();
  void loadWaves();

  std::vector<std::uint8_t> image_;
  ImageView view_;  // of image_
  std::int32_t status_ = PLAYER_NO_IMAGE;
  PlayerFault fault_ = PlayerFault::None;
  int faultChannel_ = -1;
  std::vector<char> title_;
  float version_ = 0;
  std::int32_t titleLength_ = 0;
  DriverContext context_;
  std::vector<Voice*> voices_;
  std::vector<Track> tracks_;
  std::unique_ptr<Mixer> mixer_;
  SequencerObserver* observer_ = nullptr;
};

}  // namespace qvb
