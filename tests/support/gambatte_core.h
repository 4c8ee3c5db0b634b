// A Game Boy ROM run headless in Debian's gambatte libretro core, for the
// tests and the driver's cost benchmark: frames of 70224 cycles, the sound it
// makes (stereo at the core's rate), the buttons held and reads of work RAM. The core is opened
// with dlopen; Debian packages no libretro.h, so the few calls are declared
// here. One core per process at a time (the core keeps global state).
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvb::test {

inline constexpr const char* kGambattePath = "/usr/lib/x86_64-linux-gnu/libretro/gambatte_libretro.so";
inline constexpr int kCyclesPerFrame = 70224;

class GambatteCore {
 public:
  // Loads the ROM; ok() tells whether the core and the ROM were taken.
  explicit GambatteCore(const std::vector<std::uint8_t>& rom) : rom_(rom) {
    lib_ = dlopen(kGambattePath, RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) return;
    if (!bind()) return;
    current() = this;
    setEnvironment_(&environment);
    setVideo_(+[](const void*, unsigned, unsigned, std::size_t) {});
    setSample_(+[](std::int16_t, std::int16_t) {});
    setBatch_(&audioBatch);
    setPoll_(+[] {});
    setInput_(+[](unsigned, unsigned, unsigned, unsigned id) -> std::int16_t {
      return static_cast<std::int16_t>(id < 16 && (current()->buttons_ >> id & 1) != 0);
    });
    init_();
    const GameInfo info{nullptr, rom_.data(), rom_.size(), nullptr};
    loaded_ = loadGame_(&info);
    if (loaded_) {
      AvInfo av{};
      avInfo_(&av);
      sampleRate_ = av.sampleRate;
    }
  }
  ~GambatteCore() {
    if (loaded_) unloadGame_();
    if (deinit_ != nullptr) deinit_();
    if (lib_ != nullptr) dlclose(lib_);
    current() = nullptr;
  }
  GambatteCore(const GambatteCore&) = delete;
  GambatteCore& operator=(const GambatteCore&) = delete;

  bool ok() const { return loaded_; }
  double sampleRate() const { return sampleRate_; }
  // One video frame; its sound is appended to audio().
  void runFrame() { run_(); }
  const std::vector<std::int16_t>& audio() const { return audio_; }  // interleaved stereo
  // The buttons held from the next frame on, by the core's joypad numbers.
  static constexpr unsigned kButtonStart = 1u << 3, kButtonA = 1u << 8;
  void holdButtons(unsigned buttons) { buttons_ = buttons; }
  // A byte of work RAM (0xC000..0xDFFF).
  std::uint8_t ram(std::uint16_t address) const {
    auto* bytes = static_cast<const std::uint8_t*>(memoryData_(kSystemRam));
    return bytes[address - 0xC000];
  }

 private:
  struct GameInfo {
    const char* path;
    const void* data;
    std::size_t size;
    const char* meta;
  };
  struct AvInfo {
    unsigned baseWidth, baseHeight, maxWidth, maxHeight;
    float aspect;
    double fps;
    double sampleRate;
  };
  static constexpr unsigned kSystemRam = 2;
  static constexpr unsigned kGetCanDupe = 3;
  static constexpr unsigned kSetPixelFormat = 10;

  static GambatteCore*& current() {
    static GambatteCore* core = nullptr;
    return core;
  }
  static bool environment(unsigned command, void* data) {
    if (command == kGetCanDupe) {
      *static_cast<bool*>(data) = true;
      return true;
    }
    return command == kSetPixelFormat;
  }
  static std::size_t audioBatch(const std::int16_t* data, std::size_t frames) {
    current()->audio_.insert(current()->audio_.end(), data, data + 2 * frames);
    return frames;
  }
  template <typename F>
  bool find(F& function, const char* name) {
    function = reinterpret_cast<F>(dlsym(lib_, name));
    return function != nullptr;
  }
  bool bind() {
    return find(setEnvironment_, "retro_set_environment") && find(setVideo_, "retro_set_video_refresh") &&
           find(setSample_, "retro_set_audio_sample") && find(setBatch_, "retro_set_audio_sample_batch") &&
           find(setPoll_, "retro_set_input_poll") && find(setInput_, "retro_set_input_state") &&
           find(init_, "retro_init") && find(deinit_, "retro_deinit") && find(loadGame_, "retro_load_game") &&
           find(unloadGame_, "retro_unload_game") && find(run_, "retro_run") &&
           find(memoryData_, "retro_get_memory_data") && find(avInfo_, "retro_get_system_av_info");
  }

  std::vector<std::uint8_t> rom_;
  std::vector<std::int16_t> audio_;
  unsigned buttons_ = 0;
  void* lib_ = nullptr;
  bool loaded_ = false;
  double sampleRate_ = 0;
  void (*setEnvironment_)(bool (*)(unsigned, void*)) = nullptr;
  void (*setVideo_)(void (*)(const void*, unsigned, unsigned, std::size_t)) = nullptr;
  void (*setSample_)(void (*)(std::int16_t, std::int16_t)) = nullptr;
  void (*setBatch_)(std::size_t (*)(const std::int16_t*, std::size_t)) = nullptr;
  void (*setPoll_)(void (*)()) = nullptr;
  void (*setInput_)(std::int16_t (*)(unsigned, unsigned, unsigned, unsigned)) = nullptr;
  void (*init_)() = nullptr;
  void (*deinit_)() = nullptr;
  bool (*loadGame_)(const GameInfo*) = nullptr;
  void (*unloadGame_)() = nullptr;
  void (*run_)() = nullptr;
  void* (*memoryData_)(unsigned) = nullptr;
  void (*avInfo_)(AvInfo*) = nullptr;
};

}  // namespace qvb::test
