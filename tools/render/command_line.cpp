#include "render/command_line.h"

#include <cctype>

#include "render/sound_file.h"

namespace qvb {

const char* const kUsage =
    "usage: qvbrender [-t SECONDS] [-l LOOPS] [-f SECONDS] [-o OUTPUT] FILE\n"
    "  -t SECONDS  render exactly this long (decimal seconds)\n"
    "  -l LOOPS    stop after every looping channel jumped back LOOPS times (default 2)\n"
    "  -f SECONDS  fade out over this long after the end point\n"
    "  -o OUTPUT   output file (.wav, .flac or .ogg; default: FILE with .wav)\n"
    "  -h, --help  this text\n"
    "  --version   the program's version\n";

namespace {

// A file name starts after the last of these.
#ifdef _WIN32
constexpr std::string_view kPathSeparators = "/\\";
#else
constexpr std::string_view kPathSeparators = "/";
#endif

constexpr int kMaxLoops = 1000;

bool allDigits(std::string_view s) {
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string defaultOutputName(std::string_view input) {
  const std::size_t slash = input.find_last_of(kPathSeparators);
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = input.find_last_of('.');
  // A leading dot names a hidden file rather than starting an extension.
  if (dot == std::string_view::npos || dot <= nameStart) return std::string(input) + ".wav";
  return std::string(input.substr(0, dot)) + ".wav";
}

bool hasExtension(std::string_view name, std::string_view extension) {
  if (name.size() < extension.size()) return false;
  const std::string_view tail = name.substr(name.size() - extension.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) !=
        std::tolower(static_cast<unsigned char>(extension[i]))) {
      return false;
    }
  }
  return true;
}

SoundFileType soundFileTypeFor(const std::string& path) {
  if (hasExtension(path, ".flac")) return SoundFileType::Flac;
  if (hasExtension(path, ".ogg")) return SoundFileType::OggVorbis;
  return SoundFileType::Wav;
}

std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv,
                                            std::string& error) {
  CommandLine line;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      line.help = true;
      return line;
    }
    if (arg == "--version") {
      line.version = true;
      return line;
    }
    // An option's value is never taken for a request for help or the version.
    if (arg.size() == 2 && arg[0] == '-' && std::string_view("tlfo").find(arg[1]) != std::string_view::npos) ++i;
  }
  bool haveOutput = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.size() == 2 && arg[0] == '-' && std::string_view("tlfo").find(arg[1]) != std::string_view::npos) {
      if (i + 1 >= argc) {
        error = "option " + std::string(arg) + " needs a value";
        return std::nullopt;
      }
      const std::string_view value = argv[++i];
      switch (arg[1]) {
        case 't':
        case 'f': {
          const auto frames = secondsToFrames(value);
          if (!frames) {
            error = "bad number of seconds for " + std::string(arg) + ": " + std::string(value);
            return std::nullopt;
          }
          (arg[1] == 't' ? line.options.lengthFrames : line.options.fadeFrames) = *frames;
          break;
        }
        case 'l': {
          if (value.empty() || value.size() > 4 || !allDigits(value) ||
              std::stoi(std::string(value)) > kMaxLoops) {
            error = "bad loop count: " + std::string(value);
            return std::nullopt;
          }
          line.options.loops = std::stoi(std::string(value));
          break;
        }
        default:
          if (value.empty()) {
            error = "empty output name";
            return std::nullopt;
          }
          line.output = value;
          haveOutput = true;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option: " + std::string(arg);
      return std::nullopt;
    } else if (line.input.empty() && !arg.empty()) {
      line.input = arg;
    } else {
      error = arg.empty() ? "empty file name" : "more than one input file";
      return std::nullopt;
    }
  }
  if (line.input.empty()) {
    error = "no input file";
    return std::nullopt;
  }
  if (!haveOutput) line.output = defaultOutputName(line.input);
  return line;
}

}  // namespace qvb
