// libFuzzer harness for what the programs make of their arguments: the bytes
// are cut at zero bytes into an argument list for qvbrender's parser, and
// every argument also goes through the seconds reader, qvbrender's default
// output name and qvbp's output names. What comes out must keep the promises
// of the headers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/output_names.h"
#include "render/command_line.h"

namespace {

constexpr std::size_t kMaxArguments = 32;
constexpr std::int64_t kMaxFrames = std::int64_t{6} * 60 * 60 * 44100;

void check(bool condition) {
  if (!condition) std::abort();
}

void checkNames(const std::string& argument) {
  if (const auto frames = qvb::secondsToFrames(argument)) {
    check(*frames >= 0 && *frames <= kMaxFrames);
    // A point with nothing after it changes nothing.
    if (argument.find('.') == std::string::npos) check(qvb::secondsToFrames(argument + ".") == frames);
  }
  const std::string wav = qvb::defaultOutputName(argument);
  check(qvb::hasExtension(wav, ".wav") && wav.size() >= 4);
  const std::size_t slash = argument.find_last_of('/');
  if (slash != std::string::npos) check(wav.compare(0, slash + 1, argument, 0, slash + 1) == 0);

  const bool source = qvb::endsWithExtension(argument, ".qvm");
  const std::string image = qvb::compiledFileName(argument);
  check(qvb::endsWithExtension(image, ".qvb"));
  check(image.size() == argument.size() + (source ? 0 : 4));
  const bool known = source || qvb::endsWithExtension(argument, ".qvb");
  const std::string text = qvb::asmFileName(argument);
  check(qvb::endsWithExtension(text, ".asm"));
  check(text.size() == argument.size() + (known ? 0 : 4));
  // Only the extension changes.
  check(text.compare(0, argument.size() - (known ? 3 : 0), argument, 0, argument.size() - (known ? 3 : 0)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty() && arguments.size() < kMaxArguments) {
    const std::size_t end = rest.find('\0');
    arguments.emplace_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  std::vector<const char*> argv;
  for (const std::string& a : arguments) {
    argv.push_back(a.c_str());
    checkNames(a);
  }
  std::string error;
  const auto line = qvb::parseCommandLine(static_cast<int>(argv.size()), argv.data(), error);
  if (!line) {
    check(!error.empty());
    return 0;
  }
  if (line->help || line->version) return 0;  // nothing else is set then
  check(!line->input.empty() && !line->output.empty());
  check(line->options.loops >= 0 && line->options.loops <= 1000);
  check(line->options.lengthFrames >= -1 && line->options.lengthFrames <= kMaxFrames);
  check(line->options.fadeFrames >= 0 && line->options.fadeFrames <= kMaxFrames);
  return 0;
}
