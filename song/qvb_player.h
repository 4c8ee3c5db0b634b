// The song player: keeps its own copy of a QVB image, checks it, holds one
// Track per channel and, while playing, the Mixer whose timers run the
// sequencer. Construction loads; the outcome is read from getStatus().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

class QvbPlayer {
 public:
  QvbPlayer() = default;
  QvbPlayer(const std::uint8_t* bytes, std::size_t size);
  ~QvbPlayer();
  QvbPlayer(const QvbPlayer&) = delete;
  QvbPlayer& operator=(const QvbPlayer&) = delete;

  int load(const std::uint8_t* bytes, std::size_t size);
  int release();
  int reset();
  // Rewinds and starts the song on a new Mixer over the given output.
  int play(AudioPlatform& platform);
  int play() { return play(systemAudioPlatform()); }

  int getStatus() const { return status_; }
  float getVersion() const;
  int getTitle(char* dest, int size) const;
  int getChannelCount() const { return context_.channelCount; }

  // Hands the sequencer's events to the observer (null: to nobody), for this
  // and every later image. Set it while no song plays.
  void setObserver(SequencerObserver* observer);

  // For tools and tests that watch a song: the tracks, the context the
  // sequencer runs on, and the Mixer while playing (null otherwise).
  const Track* tracks() const { return tracks_.data(); }
  const DriverContext& context() const { return context_; }
  Mixer* mixer() const { return mixer_.get(); }

 private:
  bool locate(std::size_t size);
  int refuse(int status);
  void dropImage();
  int createMixer(AudioPlatform& platform);
  void releaseMixer();
  void loadWaves();

  std::vector<std::uint8_t> image_;
  const std::uint8_t* waveList_ = nullptr;
  std::int32_t status_ = PLAYER_NO_IMAGE;
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
