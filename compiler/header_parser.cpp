#include <cstdint>

#include "compiler/compile_errors.h"
#include "compiler/mml_source.h"
#include "compiler/song_header.h"
#include "compiler/wave_def.h"

namespace qvb {

namespace {

constexpr int kLf = 0x0A;

bool inByteRange(std::int32_t v) { return v >= -128 && v <= 127; }

// Title bytes up to '>' with raw reads, so blanks stay part of the title.
int readTitle(MmlSource& reader, SongHeader& header) {
  if (reader.getNonBlank() != '<') return ERR_TITLE;
  auto append = [&header](int byte) {
    if (header.title.size() >= kMaxTitleLength) return false;
    header.title.push_back(static_cast<std::uint8_t>(byte));
    return true;
  };
  for (;;) {
    const int b = reader.readChar(false);
    // The end mark stops the title before any read can pass the text's end.
    if (b == kLf || b < 0) return ERR_TITLE;
    if (b == 0 || b == '>') return 0;
    if (b >= 0x80) {
      if (!append(b)) return ERR_TITLE_TOO_LONG;
      const int second = reader.readChar(false);
      if (second < 0) return ERR_TITLE;
      if (!append(second)) return ERR_TITLE_TOO_LONG;
    } else if (b == '\\') {
      const int escaped = reader.readChar(false);
      if (escaped < 0) return ERR_TITLE;
      if (!append(escaped)) return ERR_TITLE_TOO_LONG;
    } else if (!append(b)) {
      return ERR_TITLE_TOO_LONG;
    }
  }
}

// The body of a #WAV directive after the word; false on any syntax error.
bool parseWave(MmlSource& reader, WaveDef& wave) {
  wave = WaveDef{};
  std::int32_t index = 0;
  if (!reader.readInt(index) || index < 0 || index > 255) return false;
  wave.index = static_cast<std::uint8_t>(index);
  if (reader.getNonBlank() != ',' || reader.getNonBlank() != '<') return false;
  for (;;) {
    const int x = reader.peekNonBlank();
    if (x == '>') {
      reader.getNonBlank();
      return true;
    }
    if (x == '(') {
      reader.getNonBlank();
      std::int32_t start = 0;
      std::int32_t end = 0;
      std::int32_t n = 0;
      if (!reader.readInt(start) || !inByteRange(start)) return false;
      if (reader.getNonBlank() != ',' || !reader.readInt(end) || reader.numberTooBig()) return false;
      if (reader.getNonBlank() != ')' || reader.getNonBlank() != ',') return false;
      if (!reader.readInt(n) || reader.numberTooBig()) return false;
      if (n < 2) return false;  // a ramp needs both of its ends
      // Only the first values are ever kept, so a long ramp is not walked.
      const std::int64_t span = std::int64_t{end} - start;
      std::int32_t i = 0;
      for (; i < n && wave.count < WaveDef::kCountLimit; ++i) wave.append(start + span * i / (n - 1));
    } else {
      std::int32_t value = 0;
      if (!reader.readInt(value) || !inByteRange(value)) return false;
      wave.append(value);
    }
    // An over-full definition stays over-full whatever follows, so the passes
    // left of a repeat that gives its values need not be read.
    if (wave.count > static_cast<std::int32_t>(kWaveSampleCount)) reader.leaveRepeat();
    const int next = reader.getNonBlank();
    if (next == '>') return true;
    if (next != ',') return false;
  }
}

int readWave(MmlSource& reader, SongHeader& header) {
  WaveDef wave;
  if (!parseWave(reader, wave)) return ERR_WAV_SYNTAX;
  if (wave.count != static_cast<std::int32_t>(kWaveSampleCount)) {
    header.refusedWaveValues = wave.count;
    return ERR_WAV_COUNT;
  }
  if (header.waves.size() >= kMaxWaves) return ERR_TOO_MANY_WAVES;
  header.waves.push_back(wave);
  return 0;
}

}  // namespace

int parseHeader(MmlSource& reader, SongHeader& header) {
  header.channelCount = -1;
  reader.selectChannel(0);
  for (;;) {
    int x = reader.getNonBlank();
    if (x == END_OF_TEXT) return 0;
    reader.position(header.itemAt.line, header.itemAt.row);
    if (x != '#') return ERR_HEADER;
    x = reader.peekNonBlank();
    int result = 0;
    switch (x) {
      case 'T':
        if (!reader.matchWord("TITLE")) return ERR_HEADER;
        result = readTitle(reader, header);
        break;
      case 'C':
        if (!reader.matchWord("CHANNEL")) return ERR_HEADER;
        if (!reader.readInt(header.channelCount) || reader.numberTooBig() || header.channelCount <= 0)
          return ERR_CHANNEL;
        header.channelAt = header.itemAt;
        break;
      case 'P':
        if (!reader.matchWord("PRAGMA")) return ERR_HEADER;
        if (!reader.matchWord("FAMICOM")) return ERR_PRAGMA;
        header.mode = kModeFamicom;
        break;
      case 'W':
        if (!reader.matchWord("WAV")) return ERR_HEADER;
        result = readWave(reader, header);
        break;
      default:
        return ERR_HEADER;
    }
    if (result != 0) return result;
  }
}

}  // namespace qvb
