// qvbgb: a song (QVM source or QVB image) for the Game Boy: a ROM that plays
// it (song.gb), a GBS file and its playlist line (--gbs), a log of its
// register writes (--vgm) or the song data and the driver's source for a
// game (--asm DIR). Refusals are one line and exit status 1, with no file
// written; what the hardware plays only the closest way is warned about once
// per kind and channel. Warnings and refusals go to standard error, the
// "wrote" line to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/file_bytes.h"
#include "host/file_name.h"
#include "host/staged_file.h"
#include "host/terminal.h"
#include "gameboy/gb_files.h"
#include "gameboy/gb_song.h"
#include "gameboy/gb_vgm.h"
#include "loader/song_loader.h"
#include "qvbp_version.h"
#include "song/qvb_format.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: qvbgb [--mbc1] [--gbs [--vblank] | --vgm | --asm DIR [--bank N]]\n"
    "             [--composer TEXT] [--copyright TEXT] SONG\n"
    "  SONG        a QVM source or QVB image; writes SONG's name with .gb (banked\n"
    "              with MBC5 when it is long, --mbc1 for MBC1)\n"
    "  --gbs       write a GBS file (.gbs) and its playlist line (.m3u) instead;\n"
    "              --vblank: played once a video frame, not on the driver's timer\n"
    "  --vgm       write the sound register writes as a VGM file (.vgm) instead\n"
    "  --asm DIR   write the song data, the driver's source and a README into DIR;\n"
    "              --bank N: the song data in the areas _CODE_N, N+1, ... (a bank each)\n"
    "  --composer TEXT, --copyright TEXT\n"
    "              the GBS file's author and copyright, the VGM file's author\n"
    "              (instead of the source's #COMPOSER and #COPYRIGHT)\n"
    "  -h, --help  this text\n"
    "  --version   the program's version\n";

// A line of the messages on standard error. They name files and may quote a
// song; on a terminal their control bytes are shown, not obeyed.
void say(const std::string& line) { std::fprintf(stderr, "%s\n", qvb::textFor(stderr, line).c_str()); }

// A command line that is wrong: why, then the usage.
int usageError(const std::string& why) {
  say("qvbgb: " + why);
  std::fputs(kUsage, stderr);
  return 2;
}

// A file to write and its bytes.
struct Output {
  std::string path;
  const void* data;
  std::size_t size;
};

// Writes every file whole, each staged beside its target and none put in its
// place before all are written; the reason for the first that fails
// ("cannot write kit/song.s: No space left on device"), empty when none did.
std::string writeAll(const std::vector<Output>& outputs) {
  std::vector<std::unique_ptr<qvb::StagedFile>> staged;
  for (const Output& out : outputs) {
    staged.push_back(std::make_unique<qvb::StagedFile>(out.path));
    if (!staged.back()->writeAll(out.data, out.size))
      return "cannot write " + out.path + ": " + staged.back()->error().message();
  }
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (!staged[i]->commit()) return "cannot write " + outputs[i].path + ": " + staged[i]->error().message();
  }
  return {};
}

// The folders that making dir would create, deepest first (a link, even one
// to nothing, is no folder to make).
std::vector<fs::path> missingFolders(const fs::path& dir) {
  std::vector<fs::path> missing;
  std::error_code ec;
  for (fs::path at = dir; !at.empty() && !fs::exists(fs::symlink_status(at, ec)); at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path()) break;
  }
  return missing;
}

// The line of the item that asked for a warning, when the song is a source
// (0 when its map has no place for it).
int warningLine(const qvb::LoadedSong& song, const qvb::gb::GbWarning& warning) {
  qvb::SourcePlace place;
  return song.map.find(warning.channel, warning.offset, place) ? place.line : 0;
}

// A kit's first ROM bank: 1..255.
bool parseBank(std::string_view text, int& bank) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 255) return false;
    value = value * 10 + (c - '0');
  }
  if (text.empty() || value < 1 || value > 255) return false;
  bank = value;
  return true;
}

int refuse(const std::string& input, const std::string& why) {
  say("qvbgb: " + input + ": " + why);
  return 1;
}

// A file that cannot be written, in the words qvbrender uses.
int fail(const std::string& why) {
  say("qvbgb: " + why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  qvb::showUtf8OnConsole();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  bool gbs = false, vgm = false, vblank = false;
  qvb::gb::Cartridge cartridge = qvb::gb::Cartridge::Auto;
  int bank = 0;
  std::string asmDir, input;
  std::optional<std::string> composer, copyright;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("qvbgb %s\n", qvb::kVersion);
      return 0;
    } else if (arg == "--gbs") {
      gbs = true;
    } else if (arg == "--vgm") {
      vgm = true;
    } else if (arg == "--asm") {
      if (i + 1 >= args.size()) return usageError("--asm needs a folder");
      asmDir = args[++i];
    } else if (arg == "--composer" || arg == "--copyright") {
      if (i + 1 >= args.size()) return usageError(std::string(arg) + " needs a text");
      (arg == "--composer" ? composer : copyright) = std::string(args[++i]);
    } else if (arg == "--mbc1") {
      cartridge = qvb::gb::Cartridge::Mbc1;
    } else if (arg == "--vblank") {
      vblank = true;
    } else if (arg == "--bank") {
      if (i + 1 >= args.size() || !parseBank(args[i + 1], bank))
        return usageError("--bank takes a bank from 1 to 255");
      ++i;
    } else if (!arg.empty() && arg[0] == '-') {
      return usageError("unknown option " + std::string(arg));
    } else if (!input.empty()) {
      return usageError("one song only");
    } else {
      input = arg;
    }
  }
  if (input.empty()) return usageError("no song given");
  if (int{gbs} + int{vgm} + int{!asmDir.empty()} > 1) return usageError("--gbs, --vgm and --asm exclude one another");

  qvb::InputFile file(input);
  std::vector<std::uint8_t> bytes;
  if (!file.isOpen() || file.readAll(bytes) != qvb::FileRead::Ok)
    return refuse(input, std::string("cannot read: ") + std::strerror(file.error() != 0 ? file.error() : EIO));
  const qvb::LoadedSong song = qvb::loadSong(bytes);
  if (!song.ok()) {
    for (const std::string& why : qvb::describeProblems(song, input)) say(why);
    return 1;
  }
  qvb::gb::GbSong gbSong = qvb::gb::buildGbSong(song.image);
  if (!gbSong.ok) return refuse(input, gbSong.refusal);
  gbSong.composer = composer.value_or(song.composer);
  gbSong.copyright = copyright.value_or(song.copyright);
  for (const qvb::gb::GbWarning& warning : gbSong.warnings) {
    const int line = warningLine(song, warning);
    say(input + (line > 0 ? ":" + std::to_string(line) : "") + ": warning: " + warning.text);
  }

  // What to write, checked against the input before anything is written.
  std::vector<Output> outputs;
  std::vector<qvb::gb::TextFile> kit;
  qvb::gb::VgmFile vgmFile;
  qvb::gb::GbFile gbFile;
  std::string playlistText;
  const auto sibling = [&input](const char* extension) {
    return qvb::nameOf(qvb::pathOf(input).replace_extension(extension));
  };
  if (!asmDir.empty()) {
    kit = qvb::gb::makeAsmKit(gbSong, qvb::nameOf(qvb::pathOf(input).stem()), bank);
    for (const qvb::gb::TextFile& text : kit)
      outputs.push_back({qvb::nameOf(qvb::pathOf(asmDir) / text.name), text.text.data(), text.text.size()});
  } else if (vgm) {
    vgmFile = qvb::gb::makeVgm(gbSong);
    if (!vgmFile.ok) return refuse(input, vgmFile.refusal);
    if (!vgmFile.warning.empty()) say(input + ": warning: " + vgmFile.warning);
    outputs.push_back({sibling(".vgm"), vgmFile.bytes.data(), vgmFile.bytes.size()});
  } else {
    gbFile = gbs ? qvb::gb::makeGbs(gbSong, vblank) : qvb::gb::makeRom(gbSong, cartridge);
    if (!gbFile.ok) return refuse(input, gbFile.refusal);
    outputs.push_back({sibling(gbs ? ".gbs" : ".gb"), gbFile.bytes.data(), gbFile.bytes.size()});
    if (gbs) {
      // The GBS file's playlist line, written beside it.
      playlistText = qvb::gb::playlistLine(gbSong, qvb::nameOf(qvb::pathOf(outputs[0].path).filename())) + "\n";
      outputs.push_back({sibling(".m3u"), playlistText.data(), playlistText.size()});
    }
  }
  for (const Output& out : outputs) {
    if (qvb::sameFile(input, out.path)) return fail(out.path + " would overwrite the input");
  }

  if (!asmDir.empty()) {
    // A folder made for the kit goes again when the kit is not written.
    const std::vector<fs::path> made = missingFolders(qvb::pathOf(asmDir));
    std::error_code ec;
    fs::create_directories(qvb::pathOf(asmDir), ec);
    if (ec) return fail("cannot write " + asmDir + ": " + ec.message());
    const std::string failure = writeAll(outputs);
    if (!failure.empty()) {
      for (const fs::path& folder : made) fs::remove(folder, ec);
      return fail(failure);
    }
    std::printf("%s\n", qvb::textFor(stdout, "wrote " + asmDir).c_str());
    return 0;
  }
  const std::string failure = writeAll(outputs);
  if (!failure.empty()) return fail(failure);
  std::string wrote = "wrote " + outputs[0].path + " (" + std::to_string(outputs[0].size) + " bytes)";
  if (outputs.size() > 1) wrote += " and " + outputs[1].path;
  std::printf("%s\n", qvb::textFor(stdout, wrote).c_str());
  return 0;
}
