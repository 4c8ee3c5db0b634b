#include "play/display.h"

#include <algorithm>
#include <cstdio>

#include "host/terminal.h"

namespace qvb {
namespace {

constexpr int kFramesPerIntervalUnit = 2;  // a tick lasts twice its interval in frames at 44100 Hz
constexpr int kBarWidth = 8;

// Cut to width in columns, never inside a UTF-8 character. Characters of
// three and four bytes count two columns: East Asian ones are drawn double
// wide, and a line cut a little short never wraps.
std::string fit(const std::string& line, int width) {
  std::string out;
  int columns = 0;
  for (std::size_t i = 0; i < line.size();) {
    const auto c = static_cast<unsigned char>(line[i]);
    std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    length = std::min(length, line.size() - i);
    const int wide = length >= 3 ? 2 : 1;
    if (columns + wide > width) break;
    columns += wide;
    out.append(line, i, length);
    i += length;
  }
  return out;
}

std::string levelBar(int level) {
  const int filled = (std::clamp(level, 0, 255) * kBarWidth + 254) / 255;
  return std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
}

// One diagnosis: its line, and for a compile error the source line with a caret.
void addProblem(const SongDiagnosis& d, const std::string& file, std::span<const std::uint8_t> source,
                std::vector<std::string>& lines) {
  lines.push_back(describeProblem(d, file));
  if (d.problem != SongProblem::Compile || d.error.line < 1) return;
  // The line by number (LF, CR or CR LF end one), tabs kept so the caret lines up.
  std::int32_t number = 1;
  std::size_t at = 0;
  while (at < source.size() && number < d.error.line) {
    const std::uint8_t b = source[at++];
    if (b == '\n' || (b == '\r' && (at >= source.size() || source[at] != '\n'))) ++number;
  }
  if (number != d.error.line) return;
  std::string text;
  while (at < source.size() && source[at] != '\n' && source[at] != '\r') text += static_cast<char>(source[at++]);
  std::string caret;
  for (std::int32_t i = 1; i < d.error.row && static_cast<std::size_t>(i) <= text.size(); ++i)
    caret += text[static_cast<std::size_t>(i - 1)] == '\t' ? '\t' : ' ';
  lines.push_back(text);
  lines.push_back(caret + "^");
}

}  // namespace

std::string clockText(std::int64_t frames, int sampleRate) {
  if (frames < 0 || sampleRate <= 0) return "-";
  const std::int64_t tenths = frames * 10 / sampleRate;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
  return text;
}

std::string noteName(int note) {
  static const char* const kNames[12] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
  if (note < 0) return "-";
  return kNames[note % 12] + std::to_string(note / 12);
}

std::string tempoText(std::int32_t tickInterval) {
  if (tickInterval <= 0) return "stopped";
  // A quarter note lasts 48 ticks of interval units of two frames.
  const std::int64_t quarterFrames = std::int64_t{tickInterval} * kTicksPerBeat * kFramesPerIntervalUnit;
  const std::int64_t tenths = (std::int64_t{600} * 44100 + quarterFrames / 2) / quarterFrames;
  return "interval " + std::to_string(tickInterval) + ", " + std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10) + " bpm";
}

std::int64_t songPlace(std::int64_t position, const SongFigures& f) {
  if (f.introFrames < 0 || f.loopFrames <= 0 || position < f.introFrames + f.loopFrames) return position;
  return f.introFrames + (position - f.introFrames) % f.loopFrames;
}


std::vector<std::string> problemLines(const LoadedSong& song, const std::string& file,
                                      std::span<const std::uint8_t> source) {
  std::vector<std::string> lines;
  addProblem(song.diagnosis, file, source, lines);
  for (const SongDiagnosis& later : song.laterErrors) addProblem(later, file, source, lines);
  return lines;
}

std::vector<std::string> screenLines(const DisplayModel& m, int width) {
  std::vector<std::string> lines;
  lines.push_back(m.title.empty() ? m.file : m.title + "  (" + m.file + ")");
  const bool loops = m.figures.introFrames >= 0 && m.figures.loopFrames > 0;
  const std::int64_t length = loops ? m.figures.introFrames + m.figures.loopFrames : m.figures.endFrame;
  std::string where = (m.ended ? "ended   " : m.paused ? "paused  " : "playing ") +
                      clockText(songPlace(m.position, m.figures), m.sampleRate) + " / " +
                      clockText(length, m.sampleRate);
  if (!m.figures.known) where += " (measuring)";
  else if (m.figures.finishes) where += " (ends)";
  if (m.tick >= 0) where += "  bar " + barBeatText(m.tick);
  lines.push_back(where);
  std::string loop = "intro " + clockText(m.figures.introFrames, m.sampleRate) + "  loop " +
                     clockText(m.figures.loopFrames, m.sampleRate) + "  loops " +
                     std::to_string(m.loopsHeard);
  if (m.loopsWanted > 0) loop += "/" + std::to_string(m.loopsWanted);
  if (m.sectionStart >= 0) {
    loop += "  a " + clockText(m.sectionStart, m.sampleRate);
    if (m.sectionEnd >= 0) loop += " b " + clockText(m.sectionEnd, m.sampleRate);
  }
  lines.push_back(loop);
  std::string tempo = "tempo " + tempoText(m.tickInterval);
  if (m.underruns >= 0) tempo += "  underruns " + std::to_string(m.underruns);
  if (m.watching) tempo += m.watchNote.empty() ? "  watching" : "  " + m.watchNote;
  lines.push_back(tempo);
  for (std::size_t i = 0; i < m.channels.size(); ++i) {
    const ChannelView& c = m.channels[i];
    char row[64];
    std::snprintf(row, sizeof row, "%c%2zu %c %-4s %s%s", static_cast<int>(i) == m.cursor ? '>' : ' ', i + 1,
                  c.letter, noteName(c.note).c_str(), levelBar(c.level).c_str(), c.muted ? " muted" : "");
    lines.push_back(row);
  }
  if (m.source.known && m.cursor >= 0 && static_cast<std::size_t>(m.cursor) < m.channels.size()) {
    // The picked channel's line in the source, the note being heard marked.
    const std::string prefix = std::string(1, m.channels[static_cast<std::size_t>(m.cursor)].letter) + " " +
                               std::to_string(m.source.lineNumber) + "| ";
    lines.push_back(prefix + m.source.line);
    std::string caret(prefix.size(), ' ');
    for (std::int32_t i = 1; i < m.source.row && static_cast<std::size_t>(i) <= m.source.line.size(); ++i)
      caret += m.source.line[static_cast<std::size_t>(i - 1)] == '\t' ? '\t' : ' ';
    lines.push_back(caret + "^");
  }
  for (const std::string& p : m.problem) lines.push_back(p);
  lines.push_back(m.soloPending ? "solo which channel? 1-9"
                                : "space pause  1-9 m mute  s+n o solo  up dn pick  r restart  <- -> 5 s  q quit");
  if (width < 1) width = 1;
  for (std::string& line : lines) line = fit(visibleControls(line), width);
  return lines;
}

}  // namespace qvb
