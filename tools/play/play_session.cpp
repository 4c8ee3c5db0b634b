#include "play/play_session.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "play/display.h"
#include "render/render_session.h"
#include "song/qvb_player.h"
#include "sound/mixer.h"
#include "song/channel_letters.h"
#include "sound/pull_stream.h"
#include "sound/wave_out.h"

namespace qvb {
namespace {

// How far a reload looks for the tick in the new song: four hours of sound,
// a few hundred thousand timer calls without rendering.
constexpr std::int64_t kMaxTickSearchFrames = std::int64_t{4} * 3600 * 44100;
constexpr std::int64_t kTickSearchChunk = 1 << 16;

// The song's tempo changes from its start until the tick after `tick` has
// begun, its sequencer run without rendering; nothing when the song stops
// ticking before, or does not get there within the search's bound.
std::optional<SongBeats> beatsPast(const std::vector<std::uint8_t>& image, std::int64_t tick, const AudioFormat& format) {
  SongBeats beats;
  QvbPlayer player(image.data(), image.size());
  player.setObserver(&beats);
  if (player.getStatus() < 0 || player.start() != 1 || player.mixer() == nullptr) return std::nullopt;
  player.mixer()->SetRendering(false);
  PullStream stream(*player.mixer(), format);
  while (beats.tickAt(stream.framesPulled()) <= tick) {
    if (stream.framesPulled() >= kMaxTickSearchFrames || player.context().tickInterval <= 0) return std::nullopt;
    stream.skipFrames(kTickSearchChunk);
  }
  player.setObserver(nullptr);
  return beats;
}

}  // namespace

PlaySession::PlaySession(AudioPlatform& platform, int loops) : output_(platform), loops_(loops) {}

PlaySession::~PlaySession() {
  stopMeasuring();
  output_.stop();
}

int PlaySession::sampleRate() const {
  return output_.running() ? output_.format().sampleRate : 44100;
}

bool PlaySession::open(std::vector<std::uint8_t> image, std::int64_t from, SourceMap map,
                       std::vector<std::string> lines) {
  const ImageView view = viewImage(image);
  if (!view.ok()) return false;
  stopMeasuring();
  const std::span<const std::uint8_t> title = view.titleText();
  title_.assign(title.begin(), title.end());
  muted_.resize(view.channels.size(), false);
  image_ = std::move(image);
  map_ = std::move(map);
  lines_ = std::move(lines);
  const bool started = startAt(std::max<std::int64_t>(from, 0));
  measure();
  return started;
}

bool PlaySession::reload(std::vector<std::uint8_t> image, SourceMap map, std::vector<std::string> lines) {
  const std::int64_t from = reloadFrame(image);
  return open(std::move(image), from, std::move(map), std::move(lines));
}

// The frame of the new song that sounds the tick heard now, as far into that
// tick as the old song was (its share of the tick, which a tempo change
// stretches); the frame heard when the old song's beats are not known yet
// or the new song does not reach the tick in time.
std::int64_t PlaySession::reloadFrame(const std::vector<std::uint8_t>& image) const {
  const std::int64_t heard = position();
  const std::int64_t place = songPlace(heard, figures());
  std::int64_t tick = -1, start = -1, length = 0;
  {
    std::lock_guard<std::mutex> lock(figuresMutex_);
    if (!figures_.known) return heard;
    tick = beats_.tickAt(place);
    start = beats_.frameOf(tick);
    length = beats_.frameOf(tick + 1) - start;
  }
  if (start < 0) return heard;
  const std::optional<SongBeats> beats = beatsPast(image, tick, streamFormat());
  if (!beats) return heard;
  const std::int64_t at = beats->frameOf(tick), next = beats->frameOf(tick + 1);
  if (length <= 0 || place <= start) return at;
  return at + (place - start) * (next - at) / length;
}

const AudioFormat& PlaySession::streamFormat() const { return output_.running() ? output_.format() : kPullFormat; }

// A fresh player is run silently to the frame and swapped in with the queue
// dropped; the old one may be freed once replace() returns.
bool PlaySession::startAt(std::int64_t frame) {
  base_ = frame;
  basePlayed_ = output_.playedFrames();
  latency_ = 0;
  if (paused_) {
    output_.replace(nullptr);  // the player stays for the display, standing still
    return true;
  }
  auto next = std::make_unique<QvbPlayer>(image_.data(), image_.size());
  auto activity = std::make_unique<ChannelActivity>(next->context(), next->getChannelCount());
  next->setObserver(activity.get());
  if (next->getStatus() < 0 || next->start() != 1) return false;
  Mixer* mixer = next->mixer();
  for (std::size_t i = 0; i < muted_.size(); ++i) mixer->SetMuted(static_cast<int>(i), muted_[i]);
  auto stream = std::make_unique<PullStream>(*mixer, streamFormat());
  stream->skipFrames(frame);
  const bool dropped = output_.replace(stream.get());
  // Without a drop the old queue plays out first: a full ring of buffers.
  if (!dropped && output_.running()) {
    const AudioFormat& f = output_.format();
    latency_ = std::int64_t{kWaveBufferCount} * kWaveBufferBytes / (f.bytesPerSample * f.channels);
  }
  activity->takeHeard(frame - 1);  // the silent run up to the target is not heard
  stream_ = std::move(stream);
  player_ = std::move(next);
  activity_ = std::move(activity);
  return true;
}

void PlaySession::togglePause() {
  if (image_.empty()) return;
  const std::int64_t heard = position();
  paused_ = !paused_;
  output_.setPaused(false);
  startAt(heard);
}

void PlaySession::seekTo(std::int64_t frame) {
  if (image_.empty()) return;
  startAt(std::max<std::int64_t>(frame, 0));
}

void PlaySession::seekBy(std::int64_t frames) { seekTo(position() + frames); }

void PlaySession::setMuted(int channel, bool muted) {
  // Before the first song any letter may be muted; the song then keeps its own.
  if (image_.empty() && channel >= 0 && channel < kMaxChannels &&
      channel >= static_cast<int>(muted_.size())) {
    muted_.resize(static_cast<std::size_t>(channel) + 1, false);
  }
  if (channel < 0 || channel >= static_cast<int>(muted_.size())) return;
  muted_[static_cast<std::size_t>(channel)] = muted;
  applyMutes();
}

void PlaySession::toggleMute(int channel) { setMuted(channel, !this->muted(channel)); }

bool PlaySession::muted(int channel) const {
  if (channel < 0 || channel >= static_cast<int>(muted_.size())) return false;
  return muted_[static_cast<std::size_t>(channel)];
}

void PlaySession::solo(int channel) {
  const int count = static_cast<int>(muted_.size());
  if (channel < 0 || channel >= count) return;
  bool alone = !muted(channel);
  for (int i = 0; i < count; ++i) alone = alone && (i == channel || muted(i));
  for (int i = 0; i < count; ++i) muted_[static_cast<std::size_t>(i)] = !alone && i != channel;
  applyMutes();
}

// A mute is heard at once: the song is started again where it is heard, with
// the queue (rendered before the mute) dropped.
void PlaySession::applyMutes() {
  if (player_ == nullptr || paused_ || image_.empty()) return;
  startAt(position());
}

void PlaySession::stop() {
  stopMeasuring();
  base_ = position();
  output_.stop();
  stream_.reset();
  player_.reset();
  activity_.reset();
  image_.clear();
  title_.clear();
}

std::int64_t PlaySession::position() const {
  if (paused_ || !player_ || output_.source() == nullptr) return base_;
  const std::int64_t played = output_.playedFrames() - basePlayed_ - latency_;
  return base_ + std::max<std::int64_t>(played, 0);
}

int PlaySession::channelCount() const { return static_cast<int>(muted_.size()); }

// From what the sequencer reported, at the frame heard now: the display's
// thread reads nothing the output's thread writes but the activity's records.
std::vector<ChannelView> PlaySession::channels() const {
  std::vector<ChannelView> views(muted_.size());
  const std::int64_t at = position();
  for (std::size_t i = 0; i < views.size(); ++i) {
    ChannelView& v = views[i];
    v.letter = channelLetter(static_cast<int>(i));
    v.muted = muted_[i];
    if (!activity_) continue;
    const ChannelSound sound = activity_->soundAt(static_cast<int>(i), at);
    v.note = sound.note;
    v.level = sound.level;
  }
  return views;
}

std::vector<PlaySession::HeardEvent> PlaySession::takeHeard() {
  std::vector<HeardEvent> heard;
  if (!activity_ || paused_) return heard;
  for (const ChannelActivity::Heard& h : activity_->takeHeard(position())) {
    HeardEvent e{h.frame, h.channel, h.note, h.offset};
    SourcePlace place;
    if (h.offset >= 0 && map_.find(h.channel, h.offset, place)) {
      e.line = place.line;
      e.row = place.row;
    }
    heard.push_back(e);
  }
  return heard;
}

bool PlaySession::sourceAt(int channel, std::string& line, std::int32_t& lineNumber, std::int32_t& row) const {
  if (!activity_) return false;
  const std::int32_t offset = activity_->offsetAt(channel, position());
  SourcePlace place;
  if (offset < 0 || !map_.find(channel, offset, place)) return false;
  if (place.line < 1 || static_cast<std::size_t>(place.line) > lines_.size()) return false;
  line = lines_[static_cast<std::size_t>(place.line - 1)];
  lineNumber = place.line;
  row = place.row;
  return true;
}

std::int32_t PlaySession::tickInterval() const {
  return activity_ ? activity_->tickIntervalAt(position()) : 0;
}

SongFigures PlaySession::figures() const {
  std::lock_guard<std::mutex> lock(figuresMutex_);
  return figures_;
}

std::int64_t PlaySession::tickAt(std::int64_t frame) const {
  std::lock_guard<std::mutex> lock(figuresMutex_);
  return figures_.known ? beats_.tickAt(frame) : -1;
}

int PlaySession::loopsHeard() const {
  const SongFigures f = figures();
  const std::int64_t at = position();
  if (f.introFrames < 0 || f.loopFrames <= 0 || at < f.introFrames) return 0;
  return static_cast<int>((at - f.introFrames) / f.loopFrames);
}

bool PlaySession::reachedEnd() const {
  const SongFigures f = figures();
  if (!f.known || f.endFrame < 0) return false;
  if (!f.finishes && loops_ <= 0) return false;
  return position() >= f.endFrame;
}

// The song is run once more without output, on a thread of its own, to learn
// its length, intro and loop; a new song or the end cancels it.
void PlaySession::measure() {
  {
    std::lock_guard<std::mutex> lock(figuresMutex_);
    figures_ = SongFigures{};
  }
  cancel_.store(false);
  measuring_ = std::thread([this, image = image_] {
    SongBeats beats;
    RenderOptions options;
    options.loops = std::max(loops_, 1);
    options.observer = &beats;
    RenderResult result;
    const bool done = renderSong(
        image.data(), image.size(), options,
        [this](const std::int16_t*, std::int64_t) { return !cancel_.load(); }, result);
    if (!done) return;
    const SongFigures f = songFigures(result);
    std::lock_guard<std::mutex> lock(figuresMutex_);
    figures_ = f;
    beats_ = std::move(beats);
  });
}

void PlaySession::stopMeasuring() {
  cancel_.store(true);
  if (measuring_.joinable()) measuring_.join();
}

}  // namespace qvb
