#include "lsp/song_diagnostics.h"

#include <algorithm>
#include <span>

#include "compiler/song_warnings.h"
#include "gameboy/gb_registers.h"
#include "gameboy/gb_song.h"
#include "lsp/song_tokens.h"

namespace qvb::lsp {
namespace {

// A diagnostic over the command at a 1-based line and byte column; the whole
// line for column 0 (a fault reported for a line, not a place on it).
SongDiagnostic at(const SongDocument& document, std::int32_t line, std::int32_t row) {
  SongDiagnostic d;
  const TextLines& lines = document.lines();
  d.line = std::min(static_cast<std::size_t>(std::max(line, 1) - 1), lines.lineCount() - 1);
  const std::string_view text = lines.line(d.line);
  if (row <= 0) {
    d.endByte = text.size();
    return d;
  }
  d.startByte = std::min(static_cast<std::size_t>(row - 1), text.size());
  d.endByte = commandEnd(text, d.startByte);
  return d;
}

// Our programs' words for a refusal, without the file name and place they
// put before them.
std::string wording(const SongDiagnosis& diagnosis) {
  const std::string line = describeProblem(diagnosis, "");
  if (diagnosis.problem != SongProblem::Compile) return line.substr(line.find(' ') + 1);
  const std::string name = std::string(diagnosis.name) + ": ";
  const std::size_t after = line.find(name);
  return after == std::string::npos ? line : line.substr(after + name.size());
}

SongDiagnostic refusal(const SongDocument& document, const SongDiagnosis& diagnosis) {
  SongDiagnostic d = diagnosis.problem == SongProblem::Compile
                         ? at(document, diagnosis.error.line, diagnosis.error.row)
                         : at(document, 1, 0);
  d.code = diagnosis.problem == SongProblem::Compile ? std::string(diagnosis.name) : std::string{};
  d.source = "qvbp";
  d.message = wording(diagnosis);
  return d;
}

void addGameBoyWarnings(const SongDocument& document, std::vector<SongDiagnostic>& out) {
  const LoadedSong& song = document.song();
  if (song.view.channels.size() > static_cast<std::size_t>(gb::kMaxChannels)) return;  // no Game Boy song: nothing to warn of
  const gb::GbSong gbSong = gb::buildGbSong(song.image);
  if (!gbSong.ok) return;
  for (const gb::GbWarning& warning : gbSong.warnings) {
    SourcePlace place;
    const bool placed = warning.offset >= 0 && song.map.find(warning.channel, warning.offset, place);
    SongDiagnostic d = placed ? at(document, place.line, place.row) : at(document, 1, 0);
    d.severity = Severity::Warning;
    d.source = "qvbgb";
    d.message = warning.text;
    out.push_back(std::move(d));
  }
}

}  // namespace

std::vector<SongDiagnostic> songDiagnostics(const SongDocument& document) {
  std::vector<SongDiagnostic> out;
  const LoadedSong& song = document.song();
  if (!song.ok()) {
    out.push_back(refusal(document, song.diagnosis));
    for (const SongDiagnosis& later : song.laterErrors) out.push_back(refusal(document, later));
  }
  const std::string& text = document.text();
  for (const SongWarning& warning :
       songWarnings(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))) {
    SongDiagnostic d = at(document, warning.line, warning.row);
    d.severity = Severity::Warning;
    d.source = "qvbp";
    d.message = warning.text;
    out.push_back(std::move(d));
  }
  if (song.ok()) addGameBoyWarnings(document, out);
  return out;
}

}  // namespace qvb::lsp
