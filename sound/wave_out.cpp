#include "sound/wave_out.h"

#include <algorithm>

namespace qvb {

float GetDriverVersion() { return 0.85f; }

WaveOut::WaveOut(FillCallback fill, void* context, AudioFormat* requested, AudioPlatform& platform, Begin begin)
    : platform_(platform), fill_(fill), fillContext_(context) {
  if (requested == nullptr) {
    format_ = AudioFormat{2, 2, 44100};
    requested = &format_;
  }
  int device = FindDevice(requested);
  while (device == -1) {
    if (!NextFormat(requested)) return;
    device = FindDevice(requested);
  }

  if (!allocateBuffers()) return;
  if (!OpenDevice(device, requested)) {
    freeBuffers();
    return;
  }
  device_ = device;
  format_ = *requested;
  running_.store(1);
  platform_.pause();

  // Filled on this thread while the device waits; a failed queue call stops
  // the queueing but not the filling, and is not reported.
  bool queueing = true;
  for (AudioBuffer& buffer : headers_) {
    if (fill_ != nullptr) fill_(&format_, fillContext_, buffer.data, buffer.length);
    if (queueing) queueing = platform_.prepare(buffer) && platform_.write(buffer);
  }
  if (begin == Begin::Now) platform_.restart();
}

void WaveOut::Start() {
  if (running_.load() != 0) platform_.restart();
}

WaveOut::~WaveOut() { Close(); }

void WaveOut::Close() {
  if (running_.load() == 0) return;
  // Cleared first, so the buffers the reset hands back are not queued again.
  running_.store(0);
  platform_.reset();
  for (AudioBuffer& buffer : headers_) platform_.unprepare(buffer);
  platform_.close();
  device_ = -1;
  freeBuffers();
}

bool WaveOut::allocateBuffers() {
  for (std::size_t j = 0; j < headers_.size(); ++j) {
    std::uint8_t* data = platform_.allocateBuffer(kWaveBufferBytes);
    if (data == nullptr) {
      while (j > 0) platform_.freeBuffer(headers_[--j].data);
      headers_ = {};
      return false;
    }
    headers_[j] = AudioBuffer{data, kWaveBufferBytes, false};
  }
  return true;
}

void WaveOut::freeBuffers() {
  for (AudioBuffer& buffer : headers_) {
    if (buffer.data != nullptr) platform_.freeBuffer(buffer.data);
  }
  headers_ = {};
}

int WaveOut::FindDevice(const AudioFormat* format) {
  if (format == nullptr) return -1;
  const std::uint32_t flag = formatFlag(*format);
  const int count = platform_.deviceCount();
  for (int i = 0; i < count; ++i) {
    std::uint32_t formats = 0;
    if (platform_.deviceFormats(i, formats) == 0 && (formats & flag) != 0) return i;
  }
  return -1;
}

bool WaveOut::NextFormat(AudioFormat* format) {
  if (format == nullptr) return false;
  if (format->sampleRate == 44100) {
    format->sampleRate = 22050;
  } else if (format->bytesPerSample == 2) {
    format->sampleRate = 44100;
    format->bytesPerSample = 1;
  } else if (format->channels == 2) {
    format->sampleRate = 44100;
    format->bytesPerSample = 2;
    format->channels = 1;
  } else {
    return false;
  }
  return true;
}

bool WaveOut::OpenDevice(int device, const AudioFormat* format) {
  if (format == nullptr) return false;
  return platform_.open(device, *format, &WaveOut::BufferDone, this);
}

void WaveOut::BufferDone(void* instance, AudioBuffer* buffer) {
  auto* self = static_cast<WaveOut*>(instance);
  if (self == nullptr || buffer == nullptr || self->running_.load() == 0) return;
  self->refill(*buffer);
}

void WaveOut::refill(AudioBuffer& buffer) {
  std::fill_n(buffer.data, buffer.length, std::uint8_t{0});
  if (fill_ != nullptr) fill_(&format_, fillContext_, buffer.data, buffer.length);
  // A failed call drops this buffer out of the ring; nothing is reported.
  if (platform_.prepare(buffer)) platform_.write(buffer);
}

}  // namespace qvb
