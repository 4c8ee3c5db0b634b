#include "frontend/driver.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "compiler/mml_compiler.h"
#include "export/asm_exporter.h"
#include "host/file_bytes.h"
#include "frontend/output_names.h"
#include "host/staged_file.h"
#include "host/terminal.h"
#include "song/qvb_player.h"
#include "sound/wave_out.h"

namespace qvb {
namespace {

constexpr int kTitleBufferSize = 256;

struct Flags {
  bool compile = false;  // -c and -s: nothing is played
  bool asmOutput = false;  // -s: assembler text, no information lines
};

void printLine(const char* message) { std::printf("%s\n", message); }

// A line of a label and a text from outside (a file name, a song title): on a
// terminal its control bytes are shown, into a pipe or a file it is as it is.
void printNamed(const char* label, const std::string& text) {
  std::printf("%s: %s\n", label, textFor(stdout, text).c_str());
}

void printUsage() {
  std::printf("Usage: qvbp [options] files ...\n");
  std::printf("[Options] -c\tcompile from qvm to qvb\n");
  std::printf("          -s\toutput as GB asm\n");
}

// An option is '-' and one letter; the letter is compared with its 0x20 bit set.
enum class Option { None, Compile, Asm, Bad };

Option optionOf(const char* argument) {
  if (argument[0] != '-') return Option::None;
  if (argument[1] == 0 || argument[2] != 0) return Option::Bad;
  switch (argument[1] | 0x20) {
    case 'c': return Option::Compile;
    case 's': return Option::Asm;
    default: return Option::Bad;
  }
}

// Room for the source and the compiler's closing bytes, so that a source is
// compiled in the buffer it was read into. False when there is no memory.
bool reserveRoom(std::vector<std::uint8_t>& data, std::size_t fileSize) {
  try {
    MmlCompiler::reserveWorkCopy(data, fileSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The size line and the formats count in int.
static_assert(kMaxInputBytes <= INT_MAX);

// Reads a whole file; prints its size line. False (after printing the
// message) when it cannot be opened, read or held. A file larger than a song
// may be is refused before it is read, as one that cannot be opened.
bool readFile(const char* name, std::vector<std::uint8_t>& data) {
  InputFile file(name);
  if (!file.isOpen() || file.size() < 0 || file.tooLarge()) {
    printLine("file open error!");
    return false;
  }
  std::printf("filesize: %d\n", static_cast<int>(file.size()));
  const FileRead read =
      reserveRoom(data, static_cast<std::size_t>(file.size())) ? file.readAll(data) : FileRead::NoMemory;
  if (read != FileRead::Ok) {
    printLine(read == FileRead::NoMemory ? "memory allocation error!" : "file open error!");
    return false;
  }
  return true;
}

// An empty buffer still hands the player a real pointer: no bytes at all is
// "no image", not "no QVB image".
const std::uint8_t* bytesOf(const std::vector<std::uint8_t>& data) {
  static const std::uint8_t kNothing = 0;
  return data.empty() ? &kNothing : data.data();
}

// The part file beside the output, opened for binary writing; null after
// "file open error!" when it cannot be made.
std::FILE* openOutput(const StagedFile& out) {
  std::FILE* file = out.ok() ? std::fopen(out.writingTo().c_str(), "wb") : nullptr;
  if (file == nullptr) printLine("file open error!");
  return file;
}

// Flushes and closes an output file and puts it in its target's place. A
// write, close or rename that failed prints "file write error!" and leaves
// the target as it was (the part file is removed with `out`), so that no
// cut-off output looks whole.
bool closeOutput(std::FILE* file, StagedFile& out, bool written) {
  written = std::fflush(file) == 0 && written && std::ferror(file) == 0;
  written = std::fclose(file) == 0 && written;
  if (written && out.commit()) return true;
  printLine("file write error!");
  return false;
}

// False when the image was not written.
bool writeCompiledFile(const char* argument, const std::vector<std::uint8_t>& image) {
  const std::string name = compiledFileName(argument);
  printNamed("dataname", name);
  std::printf("filesize: %d\n", static_cast<int>(image.size()));
  StagedFile out(name);
  std::FILE* file = openOutput(out);
  if (file == nullptr) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  return closeOutput(file, out, written);
}

// The bytes are no QVB image: compile them. False when the compile failed
// (the error is printed); otherwise data holds the image.
bool compileSource(std::vector<std::uint8_t>& data) {
  MmlCompiler compiler(std::move(data));
  if (compiler.status() != 0) {
    CompileError error;
    compiler.errorInfo(error);
    std::printf("data error\n\ttype: %d\n\tline: %d\n\trow: %d\n", error.type, error.line,
                error.row);
    return false;
  }
  data = compiler.takeImage();
  return true;
}

// False when the text was not written: the write failed, or the converter
// refused the image, which leaves no file (one that was there stays as it was).
bool writeAsmFile(const char* argument, const std::vector<std::uint8_t>& data) {
  const std::string name = asmFileName(argument);
  printNamed("asm_name", name);
  StagedFile out(name);
  std::FILE* file = openOutput(out);
  if (file == nullptr) return false;
  const int code = AsmExporter::convert(file, bytesOf(data), data.size());
  if (code != 0) std::printf("qvb2asm convert faild!(error code %d)\n", code);
  if (code != 0 && code != ASM_WRITE_FAILED) {
    std::fclose(file);
    return false;
  }
  return closeOutput(file, out, code == 0);
}

void printSongInfo(const QvbPlayer& player) {
  char title[kTitleBufferSize] = {};
  std::printf("data version: %1.2f\n", static_cast<double>(player.getVersion()));
  player.getTitle(title, kTitleBufferSize - 1);
  printNamed("data title", title);
  std::printf("used channel: %d\n", player.getChannelCount());
}

// Starts the song and keeps the process alive while it plays on the output's
// own thread; only a signal from outside ends it.
[[noreturn]] void playForever(QvbPlayer& player, AudioPlatform& platform) {
  std::fflush(stdout);
  if (player.play(platform) != 1)
    std::fprintf(stderr, "qvbp: no audio output device could be opened\n");
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Handles one file argument, and plays it unless an option forbids; false
// when it was not handled whole: not read, no song, or an output not written.
bool handleFile(const char* argument, const Flags& flags, AudioPlatform& platform) {
  printNamed("filename", argument);
  std::vector<std::uint8_t> data;
  if (!readFile(argument, data)) return false;
  auto player = std::make_unique<QvbPlayer>(bytesOf(data), data.size());
  const bool compiled = player->getStatus() < 0;
  if (compiled && !compileSource(data)) return false;
  bool written = true;
  if (compiled && flags.compile && !flags.asmOutput) written = writeCompiledFile(argument, data);
  if (flags.asmOutput) written = writeAsmFile(argument, data);
  // A compiled image is handed to the player whole; a loaded one was copied.
  if (compiled) player->load(std::move(data));
  data = {};
  if (!flags.asmOutput) printSongInfo(*player);
  if (!flags.compile) playForever(*player, platform);
  player.reset();
  std::printf("\n");
  return written;
}

}  // namespace

int runDriver(int argc, char** argv, AudioPlatform& platform) {
  std::printf("QVB Player for console\n\tDriver version: %1.2f\n\tCompiler version: %1.2f\n\n",
              static_cast<double>(GetDriverVersion()), static_cast<double>(compilerVersion()));
  if (argc < 2) {
    printUsage();
    return -1;
  }
  Flags flags;
  bool failed = false;  // a file was not handled: the run fails
  for (int i = 1; i < argc; ++i) {
    switch (optionOf(argv[i])) {
      case Option::Compile: flags.compile = true; break;
      case Option::Asm: flags.compile = flags.asmOutput = true; break;
      case Option::Bad: printUsage(); return -1;
      case Option::None: failed = !handleFile(argv[i], flags, platform) || failed; break;
    }
  }
  return failed ? 1 : 0;
}

}  // namespace qvb
