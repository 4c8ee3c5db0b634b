#include "sound/winmm_platform.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <array>
#include <mutex>
#include <thread>

#include "sound/system_audio.h"

namespace qvb {
namespace {

constexpr std::size_t kMaxHeaders = 64;  // buffers one stream can have prepared at once

// Frames the device reports played since it was opened or last reset; the
// position may come in bytes when samples are not offered.
bool devicePosition(HWAVEOUT handle, WORD blockAlign, std::int64_t& frames) {
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(handle, &time, sizeof time) != MMSYSERR_NOERROR) return false;
  if (time.wType == TIME_SAMPLES) {
    frames = time.u.sample;
  } else if (time.wType == TIME_BYTES && blockAlign > 0) {
    frames = time.u.cb / blockAlign;
  } else {
    return false;
  }
  return true;
}

}  // namespace

struct WinmmPlatform::Stream {
  HWAVEOUT handle = nullptr;
  BufferDone done = nullptr;
  void* instance = nullptr;

  // One header per prepared buffer; used by the thread that prepares and
  // writes (the starter, then the refill thread), never by the notification.
  std::array<WAVEHDR, kMaxHeaders> headers{};
  std::array<AudioBuffer*, kMaxHeaders> owners{};

  // The notification takes only this lock, and only to queue what finished.
  CRITICAL_SECTION lock;
  HANDLE wake = nullptr;  // set by the notification and by reset
  std::array<AudioBuffer*, kMaxHeaders> finished{};
  std::size_t head = 0, count = 0;
  int queued = 0;     // written to the device and not yet handed back
  bool quit = false;  // reset: leave once everything queued came back

  // Keeps a write from slipping in after reset began; the notification never takes it.
  std::mutex calls;
  bool stopping = false;
  std::thread refiller;

  // The device counts the samples played since it was opened or last reset;
  // drop() adds what it had counted here first.
  std::mutex clock;
  std::int64_t playedBefore = 0;
  WORD blockAlign = 0;

  Stream() {
    InitializeCriticalSection(&lock);
    wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  ~Stream() {
    if (wake != nullptr) CloseHandle(wake);
    DeleteCriticalSection(&lock);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  WAVEHDR* headerOf(const AudioBuffer& buffer) {
    for (std::size_t i = 0; i < kMaxHeaders; ++i) {
      if (owners[i] == &buffer) return &headers[i];
    }
    return nullptr;
  }

  // Called by the system for every finished buffer (and for open and close).
  static void CALLBACK notify(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WOM_DONE || instance == 0 || param1 == 0) return;
    auto* self = reinterpret_cast<Stream*>(instance);
    auto* buffer = reinterpret_cast<AudioBuffer*>(reinterpret_cast<WAVEHDR*>(param1)->dwUser);
    EnterCriticalSection(&self->lock);
    if (self->count < kMaxHeaders) {
      self->finished[(self->head + self->count) % kMaxHeaders] = buffer;
      ++self->count;
    }
    --self->queued;
    LeaveCriticalSection(&self->lock);
    SetEvent(self->wake);
  }

  // Hands the finished buffers on in the order they finished, one at a time;
  // BufferDone refills a buffer and writes it again from here.
  void run() {
    for (;;) {
      AudioBuffer* buffer = nullptr;
      bool leave = false;
      EnterCriticalSection(&lock);
      if (count > 0) {
        buffer = finished[head];
        head = (head + 1) % kMaxHeaders;
        --count;
      } else {
        leave = quit && queued <= 0;
      }
      LeaveCriticalSection(&lock);
      if (buffer != nullptr) {
        done(instance, buffer);
      } else if (leave) {
        return;
      } else {
        WaitForSingleObject(wake, INFINITE);
      }
    }
  }
};

WinmmPlatform::WinmmPlatform() = default;

WinmmPlatform::~WinmmPlatform() { close(); }

int WinmmPlatform::deviceCount() { return static_cast<int>(waveOutGetNumDevs()); }

int WinmmPlatform::deviceFormats(int device, std::uint32_t& formats) {
  if (device < 0) return -1;
  WAVEOUTCAPSA caps{};
  const MMRESULT result = waveOutGetDevCapsA(static_cast<UINT_PTR>(device), &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return static_cast<int>(result);
  formats = caps.dwFormats;
  return 0;
}

bool WinmmPlatform::open(int device, const AudioFormat& format, BufferDone done, void* instance) {
  if (stream_ || device < 0 || device >= deviceCount() || done == nullptr) return false;
  auto stream = std::make_unique<Stream>();
  if (stream->wake == nullptr) return false;
  stream->done = done;
  stream->instance = instance;

  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<WORD>(format.channels);
  pcm.nSamplesPerSec = static_cast<DWORD>(format.sampleRate);
  pcm.wBitsPerSample = static_cast<WORD>(format.bytesPerSample * 8);
  pcm.nBlockAlign = static_cast<WORD>(format.channels * pcm.wBitsPerSample / 8);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  pcm.cbSize = 0;
  stream->blockAlign = pcm.nBlockAlign;
  // The device number itself, not the system's mapper.
  if (waveOutOpen(&stream->handle, static_cast<UINT>(device), &pcm,
                  reinterpret_cast<DWORD_PTR>(&Stream::notify), reinterpret_cast<DWORD_PTR>(stream.get()),
                  CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    return false;
  }
  Stream* s = stream.get();
  stream->refiller = std::thread([s] { s->run(); });
  stream_ = std::move(stream);
  return true;
}

void WinmmPlatform::pause() {
  if (stream_) waveOutPause(stream_->handle);
}

bool WinmmPlatform::prepare(AudioBuffer& buffer) {
  if (!stream_ || buffer.data == nullptr || buffer.length <= 0) return false;
  WAVEHDR* header = stream_->headerOf(buffer);
  if (header == nullptr) {
    for (std::size_t i = 0; i < kMaxHeaders && header == nullptr; ++i) {
      if (stream_->owners[i] != nullptr) continue;
      stream_->owners[i] = &buffer;
      header = &stream_->headers[i];
      *header = WAVEHDR{};
    }
    if (header == nullptr) return false;
  }
  header->lpData = reinterpret_cast<LPSTR>(buffer.data);
  header->dwBufferLength = static_cast<DWORD>(buffer.length);
  header->dwUser = reinterpret_cast<DWORD_PTR>(&buffer);
  if (waveOutPrepareHeader(stream_->handle, header, sizeof *header) != MMSYSERR_NOERROR) return false;
  buffer.prepared = true;
  return true;
}

bool WinmmPlatform::write(AudioBuffer& buffer) {
  if (!stream_ || !buffer.prepared) return false;
  WAVEHDR* header = stream_->headerOf(buffer);
  if (header == nullptr) return false;
  std::lock_guard<std::mutex> guard(stream_->calls);
  if (stream_->stopping) return false;
  EnterCriticalSection(&stream_->lock);
  ++stream_->queued;
  LeaveCriticalSection(&stream_->lock);
  if (waveOutWrite(stream_->handle, header, sizeof *header) == MMSYSERR_NOERROR) return true;
  EnterCriticalSection(&stream_->lock);
  --stream_->queued;
  LeaveCriticalSection(&stream_->lock);
  return false;
}

void WinmmPlatform::restart() {
  if (stream_) waveOutRestart(stream_->handle);
}

void WinmmPlatform::reset() {
  if (!stream_) return;
  {
    std::lock_guard<std::mutex> guard(stream_->calls);
    stream_->stopping = true;
  }
  // Every queued buffer comes back through the notification; the refill
  // thread hands them on and leaves once none is outstanding.
  waveOutReset(stream_->handle);
  EnterCriticalSection(&stream_->lock);
  stream_->quit = true;
  LeaveCriticalSection(&stream_->lock);
  SetEvent(stream_->wake);
  if (stream_->refiller.joinable()) stream_->refiller.join();
}

// waveOutReset marks every queued buffer done and leaves the device open and
// playing what is written next; the notifications hand the buffers to the
// refill thread, which refills and writes them again a moment later.
bool WinmmPlatform::drop() {
  if (!stream_) return false;
  std::lock_guard<std::mutex> guard(stream_->clock);
  std::int64_t played = 0;
  if (!devicePosition(stream_->handle, stream_->blockAlign, played)) played = 0;
  if (waveOutReset(stream_->handle) != MMSYSERR_NOERROR) return false;
  stream_->playedBefore += played;
  return true;
}

bool WinmmPlatform::playedFrames(std::int64_t& frames) {
  if (!stream_) return false;
  std::lock_guard<std::mutex> guard(stream_->clock);
  std::int64_t played = 0;
  if (!devicePosition(stream_->handle, stream_->blockAlign, played)) return false;
  frames = stream_->playedBefore + played;
  return true;
}

void WinmmPlatform::unprepare(AudioBuffer& buffer) {
  buffer.prepared = false;
  if (!stream_) return;
  for (std::size_t i = 0; i < kMaxHeaders; ++i) {
    if (stream_->owners[i] != &buffer) continue;
    waveOutUnprepareHeader(stream_->handle, &stream_->headers[i], sizeof(WAVEHDR));
    stream_->owners[i] = nullptr;
  }
}

void WinmmPlatform::close() {
  if (!stream_) return;
  reset();
  for (std::size_t i = 0; i < kMaxHeaders; ++i) {
    if (stream_->owners[i] != nullptr) unprepare(*stream_->owners[i]);
  }
  waveOutClose(stream_->handle);
  stream_.reset();
}

std::uint8_t* WinmmPlatform::allocateBuffer(std::int32_t bytes) {
  if (bytes <= 0) return nullptr;
  return static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes)));
}

void WinmmPlatform::freeBuffer(std::uint8_t* data) {
  if (data != nullptr) HeapFree(GetProcessHeap(), 0, data);
}

std::unique_ptr<AudioPlatform> makeSystemAudioPlatform(DeviceRing) { return std::make_unique<WinmmPlatform>(); }

}  // namespace qvb
