#include "gameboy/gb_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "gameboy/driver_image.h"

namespace qvb::gb {
namespace {

constexpr std::size_t kTitleAt = 0x134;
constexpr std::size_t kTitleRoom = 15;
constexpr std::size_t kHeaderChecksumAt = 0x14D;
constexpr std::size_t kGlobalChecksumAt = 0x14E;
constexpr std::size_t kCartridgeTypeAt = 0x147;
constexpr std::size_t kRomSizeAt = 0x148;
constexpr std::size_t kRamSizeAt = 0x149;
constexpr std::size_t kGbsHeaderSize = 0x70;
constexpr std::size_t kGbsTextRoom = 32;
constexpr std::size_t kGbsTitleAt = 0x10, kGbsAuthorAt = 0x30, kGbsCopyrightAt = 0x50;
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

std::string sizeText(std::size_t bytes, const char* unit = "") {
  char text[48];
  std::snprintf(text, sizeof text, "%zu%s", bytes, unit);
  return text;
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A record's gap byte: the time from the record after it to the one after
// that.
std::uint8_t gapAfterNext(const GbStream& stream, std::size_t i) {
  const std::ptrdiff_t next = i + 1 < stream.records.size() ? static_cast<std::ptrdiff_t>(i + 1) : stream.loopTarget;
  return next >= 0 ? stream.gaps[static_cast<std::size_t>(next) + 1] : kGapEnd;
}

// Lays the song header and the streams out from kSongDataAddress on, in a
// flat image of ROM (bank n's 0x4000..0x7FFF at n * 0x4000): all in the
// first 32 KB without banks, or from bank 1 on once the fixed bank is full.
class Placer {
 public:
  Placer(std::vector<std::uint8_t>& rom, bool banked, int maxBanks)
      : rom_(rom), banked_(banked), maxBanks_(maxBanks), address_(kSongDataAddress),
        limit_(banked ? kBankWindow : 2 * kBankSize) {}

  bool place(const GbSong& song) {
    if (!reserve(kSongHeaderSize, false)) return false;
    const std::size_t header = write(kSongHeaderSize);
    const GbStream& stream = song.stream;
    std::uint8_t used = 0;
    for (HwChannel hw : song.channels) used = static_cast<std::uint8_t>(used | 1 << static_cast<int>(hw));
    const std::size_t n = stream.records.size();
    rom_[header + kHeaderChannels] = used;
    put16(rom_, header + kHeaderRemainder, stream.loopRemainder);
    rom_[header + kHeaderFirstGap] = stream.gaps[0];
    rom_[header + kHeaderSecondGap] = n > 0 ? stream.gaps[1] : kGapEnd;
    std::uint16_t targetAddress = 0;
    std::uint8_t targetBank = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const auto& record = stream.records[i];
      if (!reserve(record.size() + 1, true)) return false;
      if (i == 0) {
        rom_[header + kHeaderBank] = bank();
        put16(rom_, header + kHeaderAddress, cpuAddress());
      }
      if (static_cast<std::ptrdiff_t>(i) == stream.loopTarget) {
        targetAddress = cpuAddress();
        targetBank = bank();
      }
      const std::size_t at = write(record.size() + 1);
      rom_[at] = gapAfterNext(stream, i);
      std::copy(record.begin(), record.end(), rom_.begin() + static_cast<std::ptrdiff_t>(at + 1));
    }
    if (stream.loopTarget >= 0) jump(targetAddress, targetBank);
    return true;
  }

  int banks() const { return bank_ + 1; }
  std::size_t end() const { return flat(); }

 private:
  std::uint8_t bank() const { return static_cast<std::uint8_t>(bank_); }
  std::uint16_t cpuAddress() const { return static_cast<std::uint16_t>(address_); }
  std::size_t flat() const { return bank_ == 0 ? address_ : bank_ * kBankSize + (address_ - kBankWindow); }

  // Room for `size` bytes here, and for a jump after them when `chained`:
  // otherwise the stream jumps to the next bank.
  bool reserve(std::size_t size, bool chained) {
    const std::size_t need = size + (chained ? kJumpSize : 0);
    if (address_ + need <= limit_) return true;
    if (!banked_ || !chained || bank_ + 1 >= maxBanks_) return false;
    jump(kBankWindow, static_cast<std::uint8_t>(bank_ + 1));
    ++bank_;
    address_ = kBankWindow;
    limit_ = kBankWindow + kBankSize;
    return address_ + need <= limit_;
  }

  std::size_t write(std::size_t size) {
    const std::size_t at = flat();
    if (rom_.size() < at + size) rom_.resize(at + size, 0xFF);
    address_ += size;
    return at;
  }

  void jump(std::uint16_t address, std::uint8_t bank) {
    const std::size_t at = write(kJumpSize);
    rom_[at] = kJump;
    put16(rom_, at + 1, address);
    rom_[at + 3] = bank;
  }

  std::vector<std::uint8_t>& rom_;
  bool banked_;
  int maxBanks_;
  std::size_t address_;
  std::size_t limit_;
  int bank_ = 0;
};

std::size_t songBytes(const GbSong& song) { return kSongHeaderSize + song.stream.bytes() + kJumpSize; }

// The driver and the song laid out in ROM: unbanked when they fit 32 KB.
GbFile layOut(const GbSong& song, int maxBanks, const char* what) {
  GbFile file;
  if (!song.ok) {
    file.refusal = song.refusal;
    return file;
  }
  file.bytes.assign(kDriverRom, kDriverRom + kDriverRomSize);
  Placer flat(file.bytes, false, 2);
  if (flat.place(song)) {
    file.banks = 2;
    file.ok = true;
    return file;
  }
  file.bytes.assign(kDriverRom, kDriverRom + kDriverRomSize);
  Placer banked(file.bytes, true, maxBanks);
  if (!banked.place(song)) {
    file.bytes.clear();
    file.refusal = "the song data take " + sizeText(songBytes(song)) + " bytes; " + what + " holds " +
                   sizeText(static_cast<std::size_t>(maxBanks) * kBankSize / 1024, " KB") + " with the driver";
    return file;
  }
  file.banks = banked.banks();
  file.ok = true;
  return file;
}

}  // namespace

std::string symbolPart(const std::string& text) {
  std::string out;
  for (char c : text) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0]))) out.insert(out.begin(), '_');
  return out;
}

GbFile makeRom(const GbSong& song, Cartridge cartridge) {
  const bool mbc1 = cartridge == Cartridge::Mbc1;
  GbFile file = layOut(song, mbc1 ? kMaxBanksMbc1 : kMaxBanksMbc5, mbc1 ? "an MBC1 cartridge" : "an MBC5 cartridge");
  if (!file.ok) return file;
  auto& rom = file.bytes;
  int banks = 2;
  while (banks < file.banks) banks *= 2;
  rom.resize(static_cast<std::size_t>(banks) * kBankSize, 0xFF);
  file.banks = banks;
  const std::string title = printable(song.title, kTitleRoom, true);
  std::fill(rom.begin() + kTitleAt, rom.begin() + kTitleAt + kTitleRoom + 1, 0);
  std::copy(title.begin(), title.end(), rom.begin() + kTitleAt);
  rom[kCartridgeTypeAt] = banks == 2 && cartridge == Cartridge::Auto ? 0x00 : mbc1 ? 0x01 : 0x19;
  int sizeCode = 0;
  while ((2 << sizeCode) < banks) ++sizeCode;
  rom[kRomSizeAt] = static_cast<std::uint8_t>(sizeCode);
  rom[kRamSizeAt] = 0;
  std::uint8_t header = 0;
  for (std::size_t i = kTitleAt; i < kHeaderChecksumAt; ++i) header = static_cast<std::uint8_t>(header - rom[i] - 1);
  rom[kHeaderChecksumAt] = header;
  unsigned sum = 0;
  for (std::size_t i = 0; i < rom.size(); ++i)
    if (i != kGlobalChecksumAt && i != kGlobalChecksumAt + 1) sum += rom[i];
  rom[kGlobalChecksumAt] = static_cast<std::uint8_t>(sum >> 8);
  rom[kGlobalChecksumAt + 1] = static_cast<std::uint8_t>(sum);
  return file;
}

GbFile makeGbs(const GbSong& song, bool vblank) {
  GbFile image = layOut(song, kMaxBanksMbc5, "a GBS file");
  if (!image.ok) return image;
  // A player maps as many banks as the file holds: the file covers bank 1
  // whole, so that the first bank switch finds one.
  const std::size_t end = std::max<std::size_t>(image.bytes.size(), image.banks > 2 ? image.bytes.size() : 2 * kBankSize);
  image.bytes.resize(end, 0xFF);
  GbFile file;
  file.banks = image.banks;
  auto& gbs = file.bytes;
  gbs.assign(kGbsHeaderSize, 0);
  gbs[0] = 'G';
  gbs[1] = 'B';
  gbs[2] = 'S';
  gbs[3] = 1;  // version
  gbs[4] = 1;  // one song
  gbs[5] = 1;  // starting with it
  put16(gbs, 6, kGbsLoadAddress);
  put16(gbs, 8, vblank ? kGbsInitVblank : kGbsInit);
  put16(gbs, 10, kGbsPlay);
  put16(gbs, 12, kGbsStack);
  gbs[14] = kTimerModulo;  // the driver sets the timer itself
  gbs[15] = vblank ? 0 : kTimerControl;  // bit 2 clear: called at VBlank
  // Title, author and copyright: printable ASCII, a zero after each that is shorter than its room.
  const std::pair<const std::string*, std::size_t> texts[] = {
      {&song.title, kGbsTitleAt}, {&song.composer, kGbsAuthorAt}, {&song.copyright, kGbsCopyrightAt}};
  for (const auto& [text, at] : texts) {
    const std::string shown = printable(*text, kGbsTextRoom, false);
    std::copy(shown.begin(), shown.end(), gbs.begin() + static_cast<std::ptrdiff_t>(at));
  }
  gbs.insert(gbs.end(), image.bytes.begin() + kGbsLoadAddress, image.bytes.end());
  file.ok = true;
  return file;
}

namespace {

// Assembler text of bytes and words, eight to a line.
class AsmWriter {
 public:
  // The gap byte, then the record.
  void record(std::uint8_t gap, const std::vector<std::uint8_t>& values) {
    std::vector<std::uint8_t> all(values.size() + 1);
    all[0] = gap;
    std::copy(values.begin(), values.end(), all.begin() + 1);
    bytes(all);
  }
  void bytes(const std::vector<std::uint8_t>& values) {
    for (std::size_t i = 0; i < values.size(); i += 8) {
      text += "\t.db ";
      for (std::size_t j = i; j < std::min(i + 8, values.size()); ++j) text += hex(values[j]) + (j + 1 < std::min(i + 8, values.size()) ? ", " : "\n");
    }
  }
  void word(const std::string& value) { text += "\t.dw " + value + "\n"; }
  void line(const std::string& value) { text += value + "\n"; }
  static std::string hex(unsigned value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (value > 0xFF) {
      char out[12];  // "0x" and up to eight digits
      std::snprintf(out, sizeof out, "0x%04x", value);
      return out;
    }
    return {'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
  }
  std::string text;
};

// The stream as text: in _CODE (bank 0), or from area _CODE_bank on, a bank
// each, jumping on where one fills.
class AsmPlacer {
 public:
  AsmPlacer(AsmWriter& out, int bank) : out_(out), bank_(bank) {}

  void stream(const GbStream& stream) {
    const std::size_t n = stream.records.size();
    for (std::size_t i = 0; i < n; ++i) {
      room(stream.records[i].size() + 1);
      if (i == 0) {
        out_.line("stream:");
        firstBank_ = bank_;
      }
      if (static_cast<std::ptrdiff_t>(i) == stream.loopTarget) {
        out_.line("loop:");
        loopBank_ = bank_;
      }
      out_.record(gapAfterNext(stream, i), stream.records[i]);
      used_ += stream.records[i].size() + 1;
    }
    if (n == 0) out_.line("stream:");
    if (stream.loopTarget >= 0) jump("loop", loopBank_);
  }

  std::string area() const { return bank_ == 0 ? "_CODE" : "_CODE_" + std::to_string(bank_); }
  int firstBank() const { return firstBank_; }

 private:
  void room(std::size_t size) {
    if (bank_ == 0 || used_ + size + kJumpSize <= kBankSize) return;
    const std::string next = "bank" + std::to_string(bank_ + 1);
    jump(next, bank_ + 1);
    ++bank_;
    used_ = 0;
    out_.line("\t.area " + area());
    out_.line(next + ":");
  }
  void jump(const std::string& label, int bank) {
    out_.bytes({kJump});
    out_.word(label);
    out_.bytes({static_cast<std::uint8_t>(bank)});
    used_ += kJumpSize;
  }

  AsmWriter& out_;
  int bank_;
  std::size_t used_ = 0;
  int firstBank_ = 0;
  int loopBank_ = 0;
};

}  // namespace

std::vector<TextFile> makeAsmKit(const GbSong& song, const std::string& name, int bank) {
  const std::string symbol = "qvb_song_" + symbolPart(name);
  AsmWriter out;
  out.line(";;\n;; " + printable(song.title, 200, false) + ": song data for the qvb Game Boy driver\n;;");
  out.line("\t.module " + symbol);
  out.line("\t.area _CODE");
  out.line(symbol + "::");
  out.line("_" + symbol + "::");
  std::uint8_t used = 0;
  for (HwChannel hw : song.channels) used = static_cast<std::uint8_t>(used | 1 << static_cast<int>(hw));
  const GbStream& stream = song.stream;
  out.line("\t.db " + AsmWriter::hex(used) + ", stream_bank");
  out.word("stream");
  out.word(AsmWriter::hex(stream.loopRemainder));
  out.bytes({stream.gaps[0], stream.records.empty() ? kGapEnd : stream.gaps[1]});
  AsmWriter streams;
  AsmPlacer placer(streams, bank);
  streams.line("\t.area " + placer.area());
  placer.stream(stream);
  const std::string banks = "stream_bank = " + std::to_string(placer.firstBank()) + "\n";
  const std::string text = out.text + streams.text + banks;
  const std::string part = symbolPart(name);
  std::string guard = "QVB_SONG_" + part + "_H";
  for (char& c : guard) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string header = "/* " + printable(song.title, 200, false) +
                             ": song data for the qvb Game Boy driver */\n"
                             "#ifndef " + guard + "\n#define " + guard + "\n\n"
                             "#include \"qvb.h\"\n\nextern const uint8_t " + symbol + "[];\n\n#endif\n";
  const auto column = [](const std::string& file) { return "  " + file + std::string(file.size() < 15 ? 15 - file.size() : 1, ' '); };
  std::string modules, assemble, rels;
  for (std::size_t i = 0; i < kDriverSourceCount; ++i) {
    const std::string file = kDriverSourceNames[i];
    modules += column(file) + (file == "qvb.h"                                 ? "the driver's C interface (SDCC's sm83 port)\n"
                               : file.size() > 4 && file.substr(file.size() - 4) == ".inc" ? "included by the driver\n"
                                                                                           : "the driver\n");
    if (file.size() > 2 && file.substr(file.size() - 2) == ".s") {
      const std::string stem = file.substr(0, file.size() - 2);
      assemble += "  sdasgb -o " + stem + ".rel " + file + "\n";
      rels += " " + stem + ".rel";
    }
  }
  rels += " " + part + ".rel";
  const std::string readme =
      "The song " + printable(song.title, 200, false) + " for the qvb Game Boy driver.\n\n" + column(part + ".s") +
      "the song data: " + symbol + " (" + sizeText(songBytes(song)) + " bytes" +
      (bank > 0 ? ", in the areas _CODE_" + std::to_string(bank) + " on, a bank each" : "") + ")\n" +
      column(part + ".h") + "its C declaration\n" + modules +
      "\nAssemble and link them with your game (SDCC's tools; game.rel first, with\n"
      "its interrupt vectors and cartridge header):\n\n"
      "  sdasgb -o " + part + ".rel " + part + ".s\n" + assemble +
      "  sdldgb -i game.ihx -b _CODE=0x0200 -b _DATA=0xC000 game.rel" + rels + "\n"
      "  makebin -Z" + (bank > 0 ? " -yt 0x19 -yo A" : "") + " game.ihx game.gb\n\n"
      "In an assembler game (each routine changes AF, BC, DE and HL):\n\n"
      "  ld de,#" + symbol + "\n"
      "  call qvb_init        ; sound on, the song starts; the driver sets the timer\n"
      "  ; enable IE bit 2; in the timer interrupt save the registers, call qvb_update\n"
      "  ld a,#0x02\n"
      "  call qvb_mute        ; pulse 2 is the game's, for an effect; 0 gives it back\n"
      "  call qvb_stop        ; silence\n\n"
      "In C (sdcc -msm83 -c game.c): #include \"" + part + ".h\", then\n"
      "qvb_init(" + symbol + "); the rest is in qvb.h.\n\n"
      "The driver is under the zlib licence, whose notice heads each of its files.\n"
      "A game that carries the driver in its ROM needs no notice in the ROM or in\n"
      "its documentation; only these source files keep the notice.\n";
  std::vector<TextFile> files{{part + ".s", text}, {part + ".h", header}};
  for (std::size_t i = 0; i < kDriverSourceCount; ++i) files.push_back({kDriverSourceNames[i], kDriverSources[i]});
  files.push_back({"README", readme});
  return files;
}

}  // namespace qvb::gb
