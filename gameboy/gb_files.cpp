#include "gameboy/gb_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "gameboy/driver_image.h"

namespace qvb::gb {
namespace {

constexpr std::size_t kTitleAt = 0x134;
constexpr std::size_t kTitleRoom = 15;
constexpr std::size_t kHeaderChecksumAt = 0x14D;
constexpr std::size_t kGlobalChecksumAt = 0x14E;
constexpr std::size_t kGbsHeaderSize = 0x70;
constexpr std::size_t kGbsTextRoom = 32;
constexpr std::uint16_t kGbsStack = 0xDFFF;

std::string printable(const std::string& title, std::size_t room, bool upper) {
  std::string out;
  for (char c : title) {
    if (out.size() == room) break;
    const auto u = static_cast<unsigned char>(c);
    out += u >= 0x20 && u < 0x7F ? static_cast<char>(upper ? std::toupper(u) : u) : '?';
  }
  return out;
}

std::string sizeText(std::size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%zu", bytes);
  return text;
}

}  // namespace

GbFile makeRom(const GbSong& song) {
  GbFile file;
  if (!song.ok) {
    file.refusal = song.refusal;
    return file;
  }
  const std::size_t size = kDriverRomSize + song.data.size();
  if (size > kRomSize) {
    file.refusal = "the ROM would take " + sizeText(size) + " bytes; without a bank controller it holds " +
                   sizeText(kRomSize);
    return file;
  }
  auto& rom = file.bytes;
  rom.assign(kDriverRom, kDriverRom + kDriverRomSize);
  rom.insert(rom.end(), song.data.begin(), song.data.end());
  rom.resize(kRomSize, 0xFF);
  const std::string title = printable(song.title, kTitleRoom, true);
  std::fill(rom.begin() + kTitleAt, rom.begin() + kTitleAt + kTitleRoom + 1, 0);
  std::copy(title.begin(), title.end(), rom.begin() + kTitleAt);
  std::uint8_t header = 0;
  for (std::size_t i = kTitleAt; i < kHeaderChecksumAt; ++i) header = static_cast<std::uint8_t>(header - rom[i] - 1);
  rom[kHeaderChecksumAt] = header;
  unsigned sum = 0;
  for (std::size_t i = 0; i < rom.size(); ++i)
    if (i != kGlobalChecksumAt && i != kGlobalChecksumAt + 1) sum += rom[i];
  rom[kGlobalChecksumAt] = static_cast<std::uint8_t>(sum >> 8);
  rom[kGlobalChecksumAt + 1] = static_cast<std::uint8_t>(sum);
  file.ok = true;
  return file;
}

GbFile makeGbs(const GbSong& song) {
  GbFile file;
  if (!song.ok) {
    file.refusal = song.refusal;
    return file;
  }
  const std::size_t end = kDriverRomSize + song.data.size();
  if (end > 0x10000) {
    file.refusal = "the song data end past the address space at " + sizeText(end);
    return file;
  }
  auto& gbs = file.bytes;
  gbs.assign(kGbsHeaderSize, 0);
  const auto put16 = [&gbs](std::size_t at, std::uint16_t value) {
    gbs[at] = static_cast<std::uint8_t>(value);
    gbs[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  gbs[0] = 'G';
  gbs[1] = 'B';
  gbs[2] = 'S';
  gbs[3] = 1;  // version
  gbs[4] = 1;  // one song
  gbs[5] = 1;  // starting with it
  put16(6, kGbsLoadAddress);
  put16(8, kGbsInit);
  put16(10, kGbsPlay);
  put16(12, kGbsStack);
  gbs[14] = kTimerModulo;
  gbs[15] = kTimerControl;
  const std::string title = printable(song.title, kGbsTextRoom, false);
  std::copy(title.begin(), title.end(), gbs.begin() + 0x10);
  gbs.insert(gbs.end(), kDriverRom + kGbsLoadAddress, kDriverRom + kDriverRomSize);
  gbs.insert(gbs.end(), song.data.begin(), song.data.end());
  file.ok = true;
  return file;
}

std::vector<TextFile> makeAsmKit(const GbSong& song) {
  std::string text = ";;\n;; Song data for the qvb Game Boy sound driver: " + printable(song.title, 200, false) +
                     "\n;;\n\t.module song\n\t.area _CODE\n";
  const bool nameable = !song.title.empty() &&
                        (std::isalpha(static_cast<unsigned char>(song.title[0])) || song.title[0] == '_') &&
                        std::all_of(song.title.begin(), song.title.end(), [](char c) {
                          return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                        }) && song.title != "qvb_song";
  if (nameable) text += song.title + "::\n";
  text += "qvb_song::\n";
  char line[16];
  for (std::size_t i = 0; i < song.data.size(); i += 8) {
    text += "\t.byte ";
    for (std::size_t j = i; j < std::min(i + 8, song.data.size()); ++j) {
      std::snprintf(line, sizeof line, j + 1 < std::min(i + 8, song.data.size()) ? "0x%02x, " : "0x%02x\n",
                    song.data[j]);
      text += line;
    }
  }
  std::string modules, assemble, rels;
  for (std::size_t i = 0; i < kDriverSourceCount; ++i) {
    const std::string name = kDriverSourceNames[i];
    modules += "  " + name + std::string(name.size() < 15 ? 15 - name.size() : 1, ' ') +
               (i == 0 ? "the driver's constants and macros\n" : "the driver\n");
    if (name.size() > 2 && name.substr(name.size() - 2) == ".s") {
      const std::string stem = name.substr(0, name.size() - 2);
      assemble += "  sdasgb -g -o " + stem + ".rel " + name + "\n";
      rels += " " + stem + ".rel";
    }
  }
  std::string readme =
      "The song " + printable(song.title, 200, false) +
      " for the qvb Game Boy sound driver.\n\n"
      "  song.s         the song data, global label qvb_song\n" +
      modules +
      "\nAssemble and link them with your game (SDCC's tools; -g lets the driver's\n"
      "modules find each other's names):\n\n"
      "  sdasgb -o song.rel song.s\n" +
      assemble + "  sdldgb -i game.ihx -b _CODE=0x0200 -b _DATA=0xC000 game.rel" + rels +
      " song.rel\n"
      "  makebin -Z game.ihx game.gb\n\n"
      "In the game:\n\n"
      "  ld hl,#qvb_song\n"
      "  call qvb_init        ; sound on, the song starts\n"
      "  ; timer: TMA = 0xF0, TAC = 0x04 (256 interrupts a second), clear IF bit 2, IE bit 2\n"
      "  ; in the timer interrupt: push af, hl; call qvb_update; pop them; reti\n"
      "  call qvb_stop        ; silence\n\n"
      "qvb_update changes AF and HL; qvb_init and qvb_stop change AF, BC, DE and HL.\n"
      "qvb_update reads TIMA (and never writes it) to leave work that does not fit\n"
      "one interrupt to the next.\n"
      "The driver uses " +
      sizeText(kDriverRamSize - 3) +
      " bytes of RAM (_DATA) and writes only the sound registers of the channels the\n"
      "song uses (their NR51 bits, NR10 with pulse 1, wave RAM with the wave channel),\n"
      "plus NR50 and NR52 in qvb_init.\n";
  std::vector<TextFile> files{{"song.s", text}};
  for (std::size_t i = 0; i < kDriverSourceCount; ++i) files.push_back({kDriverSourceNames[i], kDriverSources[i]});
  files.push_back({"README", readme});
  return files;
}

}  // namespace qvb::gb
