#include "song/qvb_player.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "song/pitch_tables.h"
#include "song/qvb_format.h"
#include "song/sequencer.h"
#include "sound/mixer.h"
#include "sound/wave_out.h"

namespace qvb {
QvbPlayer::QvbPlayer(const std::uint8_t* bytes, std::size_t size) { load(bytes, size); }

QvbPlayer::~QvbPlayer() { release(); }

// The bytes are checked on a fresh player first, so a refused image leaves a
// loaded (or playing) song as it was; only an accepted one replaces it.
int QvbPlayer::load(const std::uint8_t* bytes, std::size_t size) {
  // No bytes are refused like any other load: a loaded song stays, and its
  // status with it.
  if (bytes == nullptr) return status_ >= PLAYER_READY ? PLAYER_NO_IMAGE : status_ = PLAYER_NO_IMAGE;
  // A song source is handed here first to learn that it is no image, so
  // only bytes that begin like an image are copied; the rest are refused
  // from nothing, as an empty image is.
  std::vector<std::uint8_t> image;
  const std::span<const std::uint8_t> given(bytes, size);
  if (hasMagic(given)) {
    try {
      image.assign(given.begin(), given.end());
    } catch (const std::bad_alloc&) {
      QvbPlayer next;
      return adopt(next, next.refuse(PLAYER_NO_MEMORY));
    }
  }
  return load(std::move(image));
}

int QvbPlayer::load(std::vector<std::uint8_t>&& image) {
  QvbPlayer next;
  const int status = next.parse(std::move(image));
  return adopt(next, status);
}

int QvbPlayer::adopt(QvbPlayer& next, int status) {
  fault_ = next.fault_;
  faultChannel_ = next.faultChannel_;
  if (status < 0 && status_ >= PLAYER_READY) return status;
  release();
  image_ = std::move(next.image_);  // moved buffers keep their addresses
  view_ = std::move(next.view_);
  title_ = std::move(next.title_);
  version_ = next.version_;
  titleLength_ = next.titleLength_;
  context_ = next.context_;
  voices_ = std::move(next.voices_);
  tracks_ = std::move(next.tracks_);
  next.context_ = DriverContext{};
  context_.observer = observer_;  // the fresh player had none
  return status_ = status;
}

int QvbPlayer::parse(std::vector<std::uint8_t>&& image) {
  fault_ = PlayerFault::None;
  faultChannel_ = -1;
  image_ = std::move(image);
  try {
    view_ = viewImage(image_);
  } catch (const std::bad_alloc&) {
    return refuse(PLAYER_NO_MEMORY);
  }
  switch (view_.check) {
    case ImageCheck::BadMagic: return refuse(PLAYER_BAD_MAGIC);
    case ImageCheck::BadVersion: return refuse(PLAYER_BAD_VERSION);
    case ImageCheck::Damaged:
      fault_ = view_.fault;
      faultChannel_ = view_.faultChannel;
      return refuse(PLAYER_BAD_IMAGE);
    case ImageCheck::Ok: break;
  }
  try {
    take();
  } catch (const std::bad_alloc&) {
    return refuse(PLAYER_NO_MEMORY);
  }
  version_ = static_cast<float>(view_.version);
  context_.noteFrequency = kNoteFrequency.data();
  context_.periodFrequency = kPeriodFrequency.data();
  context_.notePeriod = kNotePeriod.data();
  context_.channelCount = static_cast<std::int32_t>(tracks_.size());
  context_.tracks = tracks_.data();
  context_.voices = voices_.data();
  context_.observer = observer_;
  status_ = PLAYER_READY;  // lets reset() run
  reset();
  return status_;
}

// Makes the title, the tracks and the voice list of an image the view took.
void QvbPlayer::take() {
  const std::span<const std::uint8_t> title = view_.titleText();
  title_.assign(view_.title.size() + 1, 0);
  std::copy(title.begin(), title.end(), title_.begin());
  titleLength_ = static_cast<std::int32_t>(view_.title.size());
  std::vector<Track> tracks(view_.channels.size());
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    tracks[i].data = view_.channels[i].data();
    tracks[i].length = static_cast<std::int32_t>(view_.channels[i].size());
  }
  voices_.assign(tracks.size(), nullptr);
  tracks_ = std::move(tracks);
}

const char* playerFaultText(PlayerFault fault) {
  switch (fault) {
    case PlayerFault::None: return "nothing";
    case PlayerFault::FixedHeader: return "the fixed header";
    case PlayerFault::Title: return "the title";
    case PlayerFault::ChannelTable: return "the channel table";
    case PlayerFault::ChannelBlock: return "a channel block";
    case PlayerFault::WaveList: return "the wave list";
  }
  return "nothing";
}

int QvbPlayer::release() {
  if (status_ < 0) return 0;
  reset();
  dropImage();
  status_ = PLAYER_NO_IMAGE;
  return 1;
}

// A failed load holds nothing.
int QvbPlayer::refuse(int status) {
  dropImage();
  return status_ = status;
}

void QvbPlayer::dropImage() {
  image_ = {};
  title_ = {};
  tracks_ = {};
  voices_ = {};
  view_ = ImageView{};
  titleLength_ = 0;
  version_ = 0;
  context_ = DriverContext{};
}

int QvbPlayer::reset() {
  if (status_ < 0) return 0;
  context_.tickInterval = kStartTickInterval;
  releaseMixer();
  for (Track& track : tracks_) track = Track{.data = track.data, .wait = 1, .length = track.length};
  status_ = PLAYER_READY;
  return 1;
}

void QvbPlayer::releaseMixer() {
  mixer_.reset();  // tears the output down first, so no callback runs from here on
  context_.mixer = nullptr;
}

// Without a song there is nothing to play: the status stays as it is.
int QvbPlayer::play(AudioPlatform& platform) {
  if (status_ < PLAYER_READY) return 0;
  reset();
  createMixer(&platform);
  status_ = PLAYER_PLAYING;
  const WaveOut* output = mixer_ ? mixer_->output() : nullptr;
  return output != nullptr && output->running() ? 1 : 0;
}

int QvbPlayer::start() {
  if (status_ < PLAYER_READY) return 0;
  reset();
  const int started = createMixer(nullptr);
  status_ = PLAYER_PLAYING;
  return started;
}

int QvbPlayer::createMixer(AudioPlatform* platform) {
  if (mixer_) return 0;
  try {
    // The device starts only once the timers are set: one that drains at
    // once would otherwise fill buffers past the lead-in before the first tick.
    mixer_ = platform != nullptr ? std::make_unique<Mixer>(context_.channelCount, *platform, WaveOut::Begin::Later)
                                 : std::make_unique<Mixer>(context_.channelCount);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  context_.mixer = mixer_.get();
  const int supplied = mixer_->CopyVoices(voices_.data(), context_.channelCount);
  // A Mixer that could not make a voice for every channel gets no timers: the
  // callbacks would otherwise reach voices that do not exist. It stays silent.
  if (supplied < context_.channelCount) {
    mixer_->StartOutput();
    return 0;
  }
  // The waves go in before the timers: a pull host may already be filling on
  // its own thread, and only a tick can turn a voice to a wave, so a fill
  // that sees a timer (published last) sees every slot complete.
  loadWaves();
  mixer_->SetTimer1(context_.tickInterval, effectFrameCallback, &context_);
  mixer_->SetTimer2(context_.tickInterval, tickCallback, &context_);
  mixer_->StartOutput();
  return 1;
}

// Later records for the same slot replace earlier ones.
void QvbPlayer::loadWaves() {
  for (std::size_t j = 0; j < view_.waveCount(); ++j) {
    const std::uint8_t* record = view_.waves.data() + kWaveRecordSize * j;
    mixer_->SetWave(record[0], record + 2);
  }
}

void QvbPlayer::setObserver(SequencerObserver* observer) {
  observer_ = observer;
  context_.observer = observer;
}

float QvbPlayer::getVersion() const {
  if (status_ < 0) return 0.0f;
  return version_ / 100;
}

int QvbPlayer::getTitle(char* dest, int size) const {
  if (status_ < 0 || dest == nullptr || size < 1) return 0;
  const int n = titleLength_ < size ? titleLength_ : size - 1;
  const char* title = title_.empty() ? nullptr : title_.data();
  int i = 0;
  for (; title != nullptr && i < n && title[i] != 0; ++i) dest[i] = title[i];
  for (; i <= n; ++i) dest[i] = 0;
  return n;
}

}  // namespace qvb
