#include "sound/alsa_platform.h"

#include "sound/system_audio.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace qvb {
namespace {

// ALSA prints its own complaints (a machine without a card makes many); the
// sound path reports only through results.
void silentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&silentErrorHandler); });
}

constexpr int kWaitMs = 20;  // longest sleep of the writer before it looks at the stop flag
// The long ring: the device buffer holds two of our buffers, one a period.
constexpr std::size_t kDevicePeriods = 2;
// The short ring: four periods of 512 frames at 44100 Hz (11.6 ms each).
constexpr unsigned kShortPeriods = 4;
constexpr snd_pcm_uframes_t kShortPeriodFrames = 512;

// A fixed first-in first-out list of buffers; nothing is allocated.
template <std::size_t N>
class BufferRing {
 public:
  std::size_t size() const { return count_; }
  void push(AudioBuffer* buffer) { items_[(head_ + count_++) % N] = buffer; }
  AudioBuffer* pop() {
    AudioBuffer* buffer = items_[head_];
    head_ = (head_ + 1) % N;
    --count_;
    return buffer;
  }

 private:
  std::array<AudioBuffer*, N> items_{};
  std::size_t head_ = 0, count_ = 0;
};

snd_pcm_format_t pcmFormat(const AudioFormat& format) {
  return format.bytesPerSample == 1 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
}

// Narrows a copy of the device's configuration space to the format; true if anything is left.
bool accepts(snd_pcm_t* pcm, const snd_pcm_hw_params_t* any, const AudioFormat& format) {
  snd_pcm_hw_params_t* params = nullptr;
  if (snd_pcm_hw_params_malloc(&params) < 0) return false;
  snd_pcm_hw_params_copy(params, any);
  const bool ok =
      snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
      snd_pcm_hw_params_set_format(pcm, params, pcmFormat(format)) == 0 &&
      snd_pcm_hw_params_set_channels(pcm, params, static_cast<unsigned>(format.channels)) == 0 &&
      snd_pcm_hw_params_set_rate(pcm, params, static_cast<unsigned>(format.sampleRate), 0) == 0;
  snd_pcm_hw_params_free(params);
  return ok;
}

bool configure(snd_pcm_t* pcm, const AudioFormat& format, snd_pcm_uframes_t period, unsigned periods,
               snd_pcm_uframes_t& bufferFrames) {
  snd_pcm_hw_params_t* hw = nullptr;
  if (snd_pcm_hw_params_malloc(&hw) < 0) return false;
  snd_pcm_uframes_t buffer = period * periods;
  bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0 && accepts(pcm, hw, format) &&
            snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
            snd_pcm_hw_params_set_format(pcm, hw, pcmFormat(format)) == 0 &&
            snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(format.channels)) == 0 &&
            snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(format.sampleRate), 0) == 0;
  if (ok) {
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    ok = snd_pcm_hw_params(pcm, hw) == 0;
    bufferFrames = buffer;
  }
  snd_pcm_hw_params_free(hw);
  if (!ok) return false;

  snd_pcm_sw_params_t* sw = nullptr;
  if (snd_pcm_sw_params_malloc(&sw) < 0) return false;
  // Playing starts with the first period written, that is after restart.
  ok = snd_pcm_sw_params_current(pcm, sw) == 0 &&
       snd_pcm_sw_params_set_start_threshold(pcm, sw, period) == 0 &&
       snd_pcm_sw_params(pcm, sw) == 0;
  snd_pcm_sw_params_free(sw);
  return ok && snd_pcm_prepare(pcm) == 0;
}

}  // namespace

struct AlsaPlatform::Stream {
  snd_pcm_t* pcm = nullptr;
  int frameBytes = 4;
  BufferDone done = nullptr;
  void* instance = nullptr;

  std::mutex mutex;  // guards the queue and the flags below; never held during a fill
  std::condition_variable wake;
  std::array<AudioBuffer*, 64> queue{};
  std::size_t head = 0, count = 0;
  bool started = false;
  bool broken = false;  // the device failed beyond recovery: the ring stands still
  std::atomic<bool> stop{false};
  std::thread writer;
  // Frames handed to the device since open, less what a drop threw away; the
  // device's delay is what of them it has yet to play. pcmMutex keeps the
  // writer's calls and the position query off the handle at the same time.
  std::atomic<std::int64_t> written{0};
  std::atomic<std::int64_t> underruns{0};  // the device ran dry while we were writing
  std::mutex pcmMutex;
  snd_pcm_uframes_t bufferFrames = 0;  // the device's own buffer
  BufferRing<kDevicePeriods + 1> playing;  // written, maybe not yet played; writer thread only

  bool push(AudioBuffer* buffer, bool front) {
    if (count == queue.size()) return false;
    if (front) {
      head = (head + queue.size() - 1) % queue.size();
      queue[head] = buffer;
    } else {
      queue[(head + count) % queue.size()] = buffer;
    }
    ++count;
    return true;
  }
  AudioBuffer* pop() {
    AudioBuffer* b = queue[head];
    head = (head + 1) % queue.size();
    --count;
    return b;
  }

  // Writes one buffer into the device; false when stopped or the device broke.
  bool writeOut(const AudioBuffer& buffer) {
    const snd_pcm_uframes_t frames = static_cast<snd_pcm_uframes_t>(buffer.length / frameBytes);
    snd_pcm_uframes_t done_frames = 0;
    while (done_frames < frames) {
      if (stop.load()) return false;
      snd_pcm_sframes_t n = 0;
      {
        std::lock_guard<std::mutex> lock(pcmMutex);
        n = snd_pcm_writei(pcm, buffer.data + done_frames * static_cast<snd_pcm_uframes_t>(frameBytes),
                           frames - done_frames);
      }
      if (n > 0) {
        done_frames += static_cast<snd_pcm_uframes_t>(n);
        written.fetch_add(n);
      } else if (n == -EAGAIN || n == 0) {
        snd_pcm_wait(pcm, kWaitMs);
      } else {
        if (n == -EPIPE) underruns.fetch_add(1);  // the device ran dry: a gap was heard
        // Underruns and suspends are recovered; anything else ends the ring.
        if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) return false;
      }
    }
    return true;
  }

  // A written buffer is handed back only once the device has played it: the
  // device holds at most kDevicePeriods of our buffers (the short ring less
  // than one), so the write of a new one returns when the oldest of those
  // has gone out. Handing buffers back as
  // soon as ALSA copied them would run the first refills right after
  // restart, while the starter is still setting up (the timers of a song).
  void run() {
    for (;;) {
      AudioBuffer* buffer = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] {
          return stop.load() || (started && !broken && (count > 0 || playing.size() > 0));
        });
        if (stop.load()) return;
        if (count > 0) buffer = pop();
      }
      if (buffer == nullptr) {
        playOut();
        continue;
      }
      if (!writeOut(*buffer)) {
        std::lock_guard<std::mutex> lock(mutex);
        push(buffer, true);  // handed back by the reset like every queued buffer
        if (!stop.load()) broken = true;
        continue;
      }
      playing.push(buffer);
      if (playing.size() > kDevicePeriods) done(instance, playing.pop());  // refills and queues it again
    }
  }

  // Nothing more to write: wait until the device has played what it holds,
  // then hand those buffers back.
  void playOut() {
    snd_pcm_wait(pcm, kWaitMs);
    snd_pcm_sframes_t free = 0;
    {
      std::lock_guard<std::mutex> lock(pcmMutex);
      free = snd_pcm_avail_update(pcm);
    }
    if (free < 0) {
      if (snd_pcm_recover(pcm, static_cast<int>(free), 1) < 0) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!stop.load()) broken = true;
        return;
      }
    } else if (static_cast<snd_pcm_uframes_t>(free) < bufferFrames) {
      return;  // still playing
    }
    while (playing.size() > 0 && !stop.load()) done(instance, playing.pop());
  }
};

// The devices a user can pick: the cards' PCMs (named with CARD=) and the
// sound servers', not the whole catalogue of plugins (rate converters, mixers,
// a JACK client that prints its own complaints when no JACK server runs).
static bool pickable(const char* name) {
  if (std::strstr(name, "CARD=") != nullptr) return true;
  for (const char* server : {"pulse", "pipewire"}) {
    if (std::strcmp(name, server) == 0) return true;
  }
  return false;
}

AlsaPlatform::AlsaPlatform(DeviceRing ring) : ring_(ring) { silenceAlsa(); }

void AlsaPlatform::listDevices() {
  if (listed_) return;
  listed_ = true;
  names_.push_back("default");
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints != nullptr) {
    for (void** hint = hints; *hint != nullptr; ++hint) {
      char* name = snd_device_name_get_hint(*hint, "NAME");
      char* io = snd_device_name_get_hint(*hint, "IOID");
      const bool output = io == nullptr || std::strcmp(io, "Output") == 0;
      if (name != nullptr && output && pickable(name)) names_.push_back(name);
      std::free(name);
      std::free(io);
    }
    snd_device_name_free_hint(hints);
  }
}

AlsaPlatform::AlsaPlatform(std::vector<std::string> names, DeviceRing ring)
    : names_(std::move(names)), listed_(true), ring_(ring) {
  silenceAlsa();
}

AlsaPlatform::~AlsaPlatform() { close(); }

const std::vector<std::string>& AlsaPlatform::names() {
  listDevices();
  return names_;
}

int AlsaPlatform::deviceCount() { return static_cast<int>(names().size()); }

int AlsaPlatform::deviceFormats(int device, std::uint32_t& formats) {
  if (device < 0 || device >= deviceCount()) return -1;
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, names_[static_cast<std::size_t>(device)].c_str(), SND_PCM_STREAM_PLAYBACK,
                   SND_PCM_NONBLOCK) < 0) {
    return -1;
  }
  snd_pcm_hw_params_t* any = nullptr;
  int result = -1;
  if (snd_pcm_hw_params_malloc(&any) == 0) {
    if (snd_pcm_hw_params_any(pcm, any) >= 0) {
      formats = 0;
      for (int bytes : {1, 2}) {
        for (int channels : {1, 2}) {
          for (int rate : {44100, 22050}) {
            const AudioFormat f{bytes, channels, rate};
            if (accepts(pcm, any, f)) formats |= formatFlag(f);
          }
        }
      }
      result = 0;
    }
    snd_pcm_hw_params_free(any);
  }
  snd_pcm_close(pcm);
  return result;
}

bool AlsaPlatform::open(int device, const AudioFormat& format, BufferDone done, void* instance) {
  if (stream_ || device < 0 || device >= deviceCount() || done == nullptr) return false;
  auto stream = std::make_unique<Stream>();
  if (snd_pcm_open(&stream->pcm, names_[static_cast<std::size_t>(device)].c_str(),
                   SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
    return false;
  }
  stream->frameBytes = format.bytesPerSample * format.channels;
  if (stream->frameBytes <= 0) {
    snd_pcm_close(stream->pcm);
    return false;
  }
  // A long ring's period is what one of our buffers holds (2048 frames in
  // 16-bit stereo); a short one's lasts as long at any rate as at 44100 Hz.
  snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(8192 / stream->frameBytes);
  unsigned periods = kDevicePeriods;
  if (ring_ == DeviceRing::Short) {
    period = std::max<snd_pcm_uframes_t>(kShortPeriodFrames * static_cast<unsigned>(format.sampleRate) / 44100, 64);
    periods = kShortPeriods;
  }
  if (!configure(stream->pcm, format, period, periods, stream->bufferFrames)) {
    snd_pcm_close(stream->pcm);
    return false;
  }
  stream->done = done;
  stream->instance = instance;
  Stream* s = stream.get();
  stream->writer = std::thread([s] { s->run(); });
  stream_ = std::move(stream);
  return true;
}

namespace {

// Stops the writer thread; when it returns nothing touches the queue but the caller.
void stopWriter(AlsaPlatform::Stream& s) {
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stop.store(true);
  }
  s.wake.notify_one();
  if (s.writer.joinable()) s.writer.join();
}

// Every buffer written or queued goes back as finished, on this thread. They
// are taken off first: a hand-back that queues a buffer again (a drop keeps
// the stream open) must not meet it again here.
void handBack(AlsaPlatform::Stream& s) {
  std::array<AudioBuffer*, 64 + kDevicePeriods + 1> back{};
  std::size_t n = 0;
  while (s.playing.size() > 0) back[n++] = s.playing.pop();
  while (s.count > 0) back[n++] = s.pop();
  for (std::size_t i = 0; i < n; ++i) s.done(s.instance, back[i]);
}

// Frames the device has yet to play of what was written; 0 when it cannot tell.
std::int64_t pendingFrames(snd_pcm_t* pcm) {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm, &delay) < 0 || delay < 0) return 0;
  return delay;
}

}  // namespace

// The writer is stopped (it may sit in a write), the device dropped and made
// ready again, and a fresh writer started; the buffers handed back meanwhile
// are refilled and queued by the output, and play from the first period on.
bool AlsaPlatform::drop() {
  if (!stream_) return false;
  Stream& s = *stream_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.broken) return false;
  }
  stopWriter(s);
  {
    std::lock_guard<std::mutex> lock(s.pcmMutex);
    const std::int64_t played = s.written.load() - pendingFrames(s.pcm);
    s.written.store(played > 0 ? played : 0);
    snd_pcm_drop(s.pcm);
    snd_pcm_prepare(s.pcm);
  }
  s.stop.store(false);
  handBack(s);
  Stream* self = &s;
  s.writer = std::thread([self] { self->run(); });
  return true;
}

std::string AlsaPlatform::deviceName(int device) {
  if (device < 0 || device >= deviceCount()) return {};
  return names_[static_cast<std::size_t>(device)];
}

bool AlsaPlatform::playedFrames(std::int64_t& frames) {
  if (!stream_) return false;
  std::lock_guard<std::mutex> lock(stream_->pcmMutex);
  const std::int64_t played = stream_->written.load() - pendingFrames(stream_->pcm);
  frames = played > 0 ? played : 0;
  return true;
}

std::int64_t AlsaPlatform::underruns() { return stream_ ? stream_->underruns.load() : 0; }

std::int64_t AlsaPlatform::deviceBufferFrames() const {
  return stream_ ? static_cast<std::int64_t>(stream_->bufferFrames) : 0;
}

void AlsaPlatform::pause() {
  if (!stream_) return;
  std::lock_guard<std::mutex> lock(stream_->mutex);
  stream_->started = false;
}

bool AlsaPlatform::prepare(AudioBuffer& buffer) {
  if (!stream_ || buffer.data == nullptr || buffer.length <= 0) return false;
  buffer.prepared = true;
  return true;
}

bool AlsaPlatform::write(AudioBuffer& buffer) {
  if (!stream_ || !buffer.prepared) return false;
  {
    std::lock_guard<std::mutex> lock(stream_->mutex);
    if (stream_->stop.load() || !stream_->push(&buffer, false)) return false;
  }
  stream_->wake.notify_one();
  return true;
}

void AlsaPlatform::restart() {
  if (!stream_) return;
  {
    std::lock_guard<std::mutex> lock(stream_->mutex);
    stream_->started = true;
  }
  stream_->wake.notify_one();
}

void AlsaPlatform::reset() {
  if (!stream_) return;
  stopWriter(*stream_);
  snd_pcm_drop(stream_->pcm);
  // The writer is gone, so these are the last notifications.
  handBack(*stream_);
}

void AlsaPlatform::unprepare(AudioBuffer& buffer) { buffer.prepared = false; }

void AlsaPlatform::close() {
  if (!stream_) return;
  reset();
  snd_pcm_close(stream_->pcm);
  stream_.reset();
}

std::unique_ptr<AudioPlatform> makeSystemAudioPlatform(DeviceRing ring) { return std::make_unique<AlsaPlatform>(ring); }

}  // namespace qvb
