// qvbgb: a song (QVM source or QVB image) for the Game Boy: a ROM that plays
// it (song.gb), a GBS file and its playlist line (--gbs), a log of its
// register writes (--vgm) or the song data and the driver's source for a
// game (--asm DIR). Refusals are one line and exit status 1, with no file
// written; what the hardware plays only the closest way is warned about once
// per kind and channel.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
#include "song/qvb_format.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: qvbgb [--mbc1] [--gbs [--vblank] | --vgm | --asm DIR [--bank N]] SONG\n"
    "  SONG        a QVM source or QVB image; writes SONG's name with .gb (banked\n"
    "              with MBC5 when it is long, --mbc1 for MBC1)\n"
    "  --gbs       write a GBS file (.gbs) and its playlist line (.m3u) instead;\n"
    "              --vblank: played once a video frame, not on the driver's timer\n"
    "  --vgm       write the sound register writes as a VGM file (.vgm) instead\n"
    "  --asm DIR   write the song data, the driver's source and a README into DIR;\n"
    "              --bank N: the song data in the areas _CODE_N, N+1, ... (a bank each)\n";

// Writes a file's ".part" file; the caller commits it.
bool writeStaged(qvb::StagedFile& staged, const void* data, std::size_t size) {
  if (!staged.ok()) return false;
  std::FILE* file = std::fopen(staged.writingTo().c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// A file whole or not at all, through a ".part" file beside it.
bool writeWhole(const std::string& path, const void* data, std::size_t size) {
  qvb::StagedFile staged(path);
  return writeStaged(staged, data, size) && staged.commit();
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
  std::printf("qvbgb: %s: %s\n", input.c_str(), why.c_str());
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
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--gbs") {
      gbs = true;
    } else if (args[i] == "--vgm") {
      vgm = true;
    } else if (args[i] == "--asm" && i + 1 < args.size()) {
      asmDir = args[++i];
    } else if (args[i] == "--mbc1") {
      cartridge = qvb::gb::Cartridge::Mbc1;
    } else if (args[i] == "--vblank") {
      vblank = true;
    } else if (args[i] == "--bank" && i + 1 < args.size() && parseBank(args[i + 1], bank)) {
      ++i;
    } else if (input.empty() && !args[i].empty() && args[i][0] != '-') {
      input = args[i];
    } else {
      std::printf("%s", kUsage);
      return 2;
    }
  }
  if (input.empty() || int{gbs} + int{vgm} + int{!asmDir.empty()} > 1) {
    std::printf("%s", kUsage);
    return 2;
  }

  qvb::InputFile file(input);
  std::vector<std::uint8_t> bytes;
  if (!file.isOpen() || file.readAll(bytes) != qvb::FileRead::Ok)
    return refuse(input, std::string("cannot read: ") + std::strerror(file.error() != 0 ? file.error() : EIO));
  const qvb::LoadedSong song = qvb::loadSong(bytes);
  if (!song.ok()) {
    std::printf("%s\n", qvb::describeProblem(song.diagnosis, input).c_str());
    return 1;
  }
  const qvb::gb::GbSong gbSong = qvb::gb::buildGbSong(song.image);
  if (!gbSong.ok) return refuse(input, gbSong.refusal);
  for (const qvb::gb::GbWarning& warning : gbSong.warnings) {
    const int line = warningLine(song, warning);
    if (line > 0)
      std::printf("%s:%d: warning: %s\n", input.c_str(), line, warning.text.c_str());
    else
      std::printf("%s: warning: %s\n", input.c_str(), warning.text.c_str());
  }

  if (!asmDir.empty()) {
    std::error_code ec;
    fs::create_directories(qvb::pathOf(asmDir), ec);
    for (const qvb::gb::TextFile& text : qvb::gb::makeAsmKit(gbSong, qvb::nameOf(qvb::pathOf(input).stem()), bank)) {
      const std::string path = qvb::nameOf(qvb::pathOf(asmDir) / text.name);
      if (!writeWhole(path, text.text.data(), text.text.size())) return refuse(input, "cannot write " + path);
    }
    std::printf("wrote %s\n", asmDir.c_str());
    return 0;
  }
  const auto sibling = [&input](const char* extension) {
    return qvb::nameOf(qvb::pathOf(input).replace_extension(extension));
  };
  if (vgm) {
    const qvb::gb::VgmFile out = qvb::gb::makeVgm(gbSong);
    if (!out.ok) return refuse(input, out.refusal);
    if (!out.warning.empty()) std::fprintf(stderr, "%s: warning: %s\n", input.c_str(), out.warning.c_str());
    const std::string target = sibling(".vgm");
    if (!writeWhole(target, out.bytes.data(), out.bytes.size())) return refuse(input, "cannot write " + target);
    std::printf("wrote %s (%zu bytes)\n", target.c_str(), out.bytes.size());
    return 0;
  }
  const qvb::gb::GbFile out = gbs ? qvb::gb::makeGbs(gbSong, vblank) : qvb::gb::makeRom(gbSong, cartridge);
  if (!out.ok) return refuse(input, out.refusal);
  const std::string target = sibling(gbs ? ".gbs" : ".gb");
  if (!gbs) {
    if (!writeWhole(target, out.bytes.data(), out.bytes.size())) return refuse(input, "cannot write " + target);
    std::printf("wrote %s (%zu bytes)\n", target.c_str(), out.bytes.size());
    return 0;
  }
  // The GBS file and its playlist, both written before either takes its place.
  const std::string playlist = sibling(".m3u");
  const std::string line = qvb::gb::playlistLine(gbSong, qvb::nameOf(qvb::pathOf(target).filename())) + "\n";
  qvb::StagedFile stagedGbs(target), stagedPlaylist(playlist);
  if (!writeStaged(stagedGbs, out.bytes.data(), out.bytes.size())) return refuse(input, "cannot write " + target);
  if (!writeStaged(stagedPlaylist, line.data(), line.size())) return refuse(input, "cannot write " + playlist);
  if (!stagedGbs.commit()) return refuse(input, "cannot write " + target);
  if (!stagedPlaylist.commit()) return refuse(input, "cannot write " + playlist);
  std::printf("wrote %s (%zu bytes) and %s\n", target.c_str(), out.bytes.size(), playlist.c_str());
  return 0;
}
