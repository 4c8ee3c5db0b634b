// The renderer's command line: qvbrender [-t SECONDS] [-l LOOPS] [-f SECONDS]
// [-o OUTPUT] FILE, with seconds read as exact decimals and turned into frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "render/render_session.h"
#include "render/seconds.h"

namespace qvb {

struct CommandLine {
  std::string input;
  std::string output;  // the default name when -o is not given
  RenderOptions options;
  bool help = false;  // -h or --help: print the usage, render nothing
  bool version = false;  // --version: print the version, render nothing
};

// The input's name with its extension replaced by .wav; a name without an
// extension (none in its last path component) gets .wav appended.
std::string defaultOutputName(std::string_view input);

// True when the name ends in the given extension (".flac"), in any case.
bool hasExtension(std::string_view name, std::string_view extension);

// Parses the arguments after the program name; on failure returns nullopt
// and sets error to a one-line reason. -h or --help anywhere asks for the
// usage alone, --version for the version alone: the line then has help or
// version set and nothing else (the first of them given wins).
std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv,
                                            std::string& error);

extern const char* const kUsage;

}  // namespace qvb
