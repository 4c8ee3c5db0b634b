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
namespace {

constexpr std::int32_t kResetTickInterval = 368;

// True when [offset, offset + length) lies inside an image of `size` bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

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
  waveList_ = next.waveList_;
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
  if (!hasMagic(image_)) return refuse(PLAYER_BAD_MAGIC);
  const std::size_t size = image_.size();
  if (size < kFixedHeaderSize) {
    fault_ = PlayerFault::FixedHeader;
    return refuse(PLAYER_BAD_IMAGE);
  }
  const int version = image_[kVersionMajorOffset] * 100 + image_[kVersionMinorOffset];
  if (version > kLastReadableVersion) return refuse(PLAYER_BAD_VERSION);
  try {
    if (!locate(size)) return refuse(PLAYER_BAD_IMAGE);
  } catch (const std::bad_alloc&) {
    return refuse(PLAYER_NO_MEMORY);
  }
  version_ = static_cast<float>(version);
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

// Finds the title, the channel blocks and the wave list, checking that every
// one of them lies inside the image before anything is read or allocated.
bool QvbPlayer::locate(std::size_t size) {
  const std::uint8_t* bytes = image_.data();
  const std::uint32_t titleLength = readBe16(bytes + kTitleLengthOffset);
  const std::size_t countAt = channelCountOffset(titleLength);
  if (!inside(countAt, 2, size)) return fail(PlayerFault::Title);
  const std::uint32_t channelCount = readBe16(bytes + countAt);
  const std::size_t tableAt = countAt + 2;
  const Layout layout = layoutOf(bytes[kVersionMajorOffset] * 100 + bytes[kVersionMinorOffset]);
  const std::size_t tableEnd = tableAt + kChannelEntrySize * channelCount;
  const std::size_t waveOffsetSize = layout == Layout::OffsetsAndWaves ? 4 : 0;
  if (!inside(tableAt, tableEnd - tableAt + waveOffsetSize, size)) return fail(PlayerFault::ChannelTable);

  std::uint64_t running = tableEnd;  // layout 1: blocks back to back after the table
  std::vector<Track> tracks(channelCount);
  for (std::uint32_t i = 0; i < channelCount; ++i) {
    const std::uint8_t* entry = bytes + tableAt + kChannelEntrySize * i;
    const std::uint32_t length = readBe32(entry + 4);
    const std::uint64_t offset = layout == Layout::BackToBack ? running : readBe32(entry);
    if (!inside(offset, length, size)) {
      faultChannel_ = static_cast<int>(i);
      return fail(PlayerFault::ChannelBlock);
    }
    running += length;
    tracks[i].data = bytes + offset;
    tracks[i].length = static_cast<std::int32_t>(length);
  }

  waveList_ = nullptr;
  if (layout == Layout::OffsetsAndWaves) {
    const std::uint32_t listAt = readBe32(bytes + tableEnd);
    if (!inside(listAt, 2, size)) return fail(PlayerFault::WaveList);
    const std::uint32_t waveCount = readBe16(bytes + listAt);
    if (!inside(listAt + 2, std::uint64_t{kWaveRecordSize} * waveCount, size))
      return fail(PlayerFault::WaveList);
    waveList_ = bytes + listAt;
  }

  title_.assign(titleLength + 1, 0);
  const std::uint8_t* title = bytes + kTitleOffset;
  const std::uint8_t* titleEnd = std::find(title, title + titleLength, 0);
  std::copy(title, titleEnd, title_.begin());
  titleLength_ = static_cast<std::int32_t>(titleLength);
  voices_.assign(channelCount, nullptr);
  tracks_ = std::move(tracks);
  return true;
}

bool QvbPlayer::fail(PlayerFault fault) {
  fault_ = fault;
  return false;
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
  waveList_ = nullptr;
  titleLength_ = 0;
  version_ = 0;
  context_ = DriverContext{};
}

int QvbPlayer::reset() {
  if (status_ < 0) return 0;
  context_.tickInterval = kResetTickInterval;
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
    mixer_ = platform != nullptr ? std::make_unique<Mixer>(context_.channelCount, *platform)
                                 : std::make_unique<Mixer>(context_.channelCount);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  context_.mixer = mixer_.get();
  const int supplied = mixer_->CopyVoices(voices_.data(), context_.channelCount);
  // A Mixer that could not make a voice for every channel gets no timers: the
  // callbacks would otherwise reach voices that do not exist. It stays silent.
  if (supplied < context_.channelCount) return 0;
  // The waves go in before the timers: the output may already be filling on
  // its own thread, and only a tick can turn a voice to a wave, so a fill
  // that sees a timer (published last) sees every slot complete.
  loadWaves();
  mixer_->SetTimer1(context_.tickInterval, effectFrameCallback, &context_);
  mixer_->SetTimer2(context_.tickInterval, tickCallback, &context_);
  return 1;
}

// Later records for the same slot replace earlier ones.
void QvbPlayer::loadWaves() {
  if (waveList_ == nullptr) return;
  const std::uint32_t count = readBe16(waveList_);
  for (std::uint32_t j = 0; j < count; ++j) {
    const std::uint8_t* record = waveList_ + 2 + kWaveRecordSize * j;
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
