#include "loader/song_loader.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "compiler/compile_errors.h"
#include "compiler/song_credits.h"
#include "compiler/song_header.h"
#include "loader/error_hints.h"
#include "loader/error_recovery.h"
#include "song/channel_letters.h"
#include "song/qvb_format.h"

namespace qvb {
namespace {

// A real pointer even for no bytes: nothing at all is neither image nor source.
const std::uint8_t* pointerOf(std::span<const std::uint8_t> bytes) {
  static const std::uint8_t kNothing = 0;
  return bytes.empty() ? &kNothing : bytes.data();
}

LoadedSong refused(SongProblem problem) {
  LoadedSong song;
  song.diagnosis.problem = problem;
  return song;
}

// The compiler reports where its reads stopped: at a channel's end that is
// the first header line, row 0; after a number at a line's end, the next
// line. Our tools show where the faulty command begins instead, with its
// channel, and for a loop left open where the loop began, all in the text's
// own columns.
void placeForPeople(SongDiagnosis& d, std::span<const std::uint8_t> bytes) {
  CompileError& e = d.error;
  if (e.commandChannel < 1 && e.commandLine < 1) return;
  SourceMap places;  // the same column correction the source map gets
  places.add(0, 0, e.commandLine, e.commandRow);
  places.add(0, 1, e.openLine, e.openRow);
  places.toTextRows(bytes);
  const SourcePlace command = places.places(0)[0];
  const SourcePlace open = places.places(0)[1];
  if (e.type == ERR_LOOP_OPEN && open.line > 0) {
    d.context = "the loop opened at " + std::to_string(open.line) + ":" + std::to_string(open.row) +
                " is not closed when the channel ends";
  }
  if (command.line > 0) {
    e.line = command.line;
    e.row = command.row;
  }
  e.openLine = open.line;
  e.openRow = open.row;
  e.channel = e.commandChannel;
}

// What the header asks for that cannot be, in words, where the code's
// meaning covers several cases; empty for the others.
std::string headerContext(int code, const SongHeader& header, int lastChannel) {
  const std::string count = "#CHANNEL " + std::to_string(header.channelCount);
  if (code == ERR_NO_TITLE_OR_CHANNEL)
    return header.channelCount <= 0 ? "the header has no #CHANNEL line" : "the header has no #TITLE with a title byte";
  if (code != ERR_CHANNEL_COUNT) return {};
  if (header.channelCount > kMaxChannels) return count + ": " + std::to_string(kMaxChannels) + " channels at most";
  if (header.mode == kModeFamicom && header.channelCount != 3)
    return count + ": #PRAGMA FAMICOM plays exactly 3 channels";
  if (lastChannel < 1) return count + ", but no channel has text";
  if (lastChannel < header.channelCount) return count + ", but the last channel with text is " + channelLetter(lastChannel - 1);
  return count + ", but channel " + channelLetter(lastChannel - 1) + " has text";
}

// The compile's error in people's terms: its place, channel, name, meaning
// and what more can be said of it. text is the text compiled.
SongDiagnosis diagnosisOf(const MmlCompiler& compiler, std::span<const std::uint8_t> text) {
  SongDiagnosis d;
  if (!compiler.errorInfo(d.error)) return d;
  d.problem = SongProblem::Compile;
  placeForPeople(d, text);
  if (d.error.channel >= 1 && d.error.channel <= kMaxChannels) d.channel = channelLetter(d.error.channel - 1);
  if (d.channel == 0) d.context = headerContext(d.error.type, compiler.header(), compiler.lastChannelWithText());
  const ErrorCodeInfo* code = findErrorCode(d.error.type);
  d.name = code ? code->name : "ERR_UNKNOWN";
  d.meaning = code ? code->meaning : "the song does not compile";
  addHint(d, text, compiler.header());
  return d;
}

FaultFacts factsOf(const MmlCompiler& compiler) {
  return {compiler.lastChannelWithText(), compiler.header().mode == kModeFamicom};
}

// Compiles the text again and again, each time with the faults found so far
// blanked out, while the compiles stay within a budget of bytes read.
std::vector<SongDiagnosis> laterErrors(std::span<const std::uint8_t> text, const SongDiagnosis& first,
                                       FaultFacts facts) {
  constexpr std::uint64_t kBudgetBytes = 32u << 20;
  std::vector<SongDiagnosis> found;
  ErrorRecovery recovery(text);
  SongDiagnosis fault = first;
  std::uint64_t spent = 0;
  while (found.size() < kMaxLaterErrors && recovery.blank(fault, facts)) {
    spent += recovery.text().size();
    if (spent > kBudgetBytes) break;
    const MmlCompiler compiler(pointerOf(recovery.text()), static_cast<std::int32_t>(recovery.text().size()));
    fault = diagnosisOf(compiler, recovery.text());
    if (fault.problem != SongProblem::Compile) break;
    facts = factsOf(compiler);
    if (recovery.shown(fault)) found.push_back(fault);
  }
  std::stable_sort(found.begin(), found.end(), [](const SongDiagnosis& a, const SongDiagnosis& b) {
    return a.error.line != b.error.line ? a.error.line < b.error.line : a.error.row < b.error.row;
  });
  return found;
}

LoadedSong compiled(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > INT32_MAX) return refused(SongProblem::NotASong);
  LoadedSong song;
  // The credits are ours: the compiler reads the text with them written over.
  const SongCredits credits = readCredits(bytes);
  song.composer = credits.composer;
  song.copyright = credits.copyright;
  std::vector<std::uint8_t> withoutThem;
  if (!credits.spans.empty()) withoutThem = withoutCredits(bytes, credits);
  const std::span<const std::uint8_t> text = credits.spans.empty() ? bytes : std::span<const std::uint8_t>(withoutThem);
  MmlCompiler compiler(pointerOf(text), static_cast<std::int32_t>(text.size()), song.map);
  song.diagnosis = diagnosisOf(compiler, text);
  if (!song.ok()) {
    song.laterErrors = laterErrors(text, song.diagnosis, factsOf(compiler));
    return song;
  }
  if (compiler.status() != 0 || compiler.imageSize() <= 0) return refused(SongProblem::NotASong);
  song.image = compiler.takeImage();
  song.view = viewImage(song.image);
  song.map.toTextRows(bytes);
  if (!song.view.ok()) return refused(SongProblem::NotASong);  // the compiler wrote a whole image
  return song;
}

}  // namespace

LoadedSong loadSong(std::span<const std::uint8_t> bytes) {
  try {
    const ImageView view = viewImage(bytes);
    switch (view.check) {
      case ImageCheck::Ok: {
        LoadedSong song;
        song.image.assign(bytes.begin(), bytes.end());
        song.view = viewImage(song.image);
        return song;
      }
      case ImageCheck::BadVersion: return refused(SongProblem::NewerImage);
      case ImageCheck::Damaged: {
        LoadedSong song = refused(SongProblem::DamagedImage);
        song.diagnosis.fault = view.fault;
        song.diagnosis.faultChannel = view.faultChannel;
        return song;
      }
      case ImageCheck::BadMagic: break;
    }
    return compiled(bytes);
  } catch (const std::bad_alloc&) {
    return refused(SongProblem::NoMemory);
  }
}

std::string describeProblem(const SongDiagnosis& d, const std::string& file) {
  switch (d.problem) {
    case SongProblem::None: return file + ": a song";
    case SongProblem::Compile:
    {
      std::string line = file + ":" + std::to_string(d.error.line) + ":" + std::to_string(d.error.row) +
                         ": error " + std::to_string(d.error.type) + " " + std::string(d.name) + ": ";
      // Outside a channel the particular words say more than the code's meaning.
      if (d.channel == 0) return line + (d.context.empty() ? std::string(d.meaning) : d.context);
      return line + std::string(d.meaning) + " (channel " + d.channel + (d.context.empty() ? "" : ": " + d.context) + ")";
    }
    case SongProblem::DamagedImage: {
      std::string part = playerFaultText(d.fault);
      if (d.fault == PlayerFault::ChannelBlock && d.faultChannel >= 0 && d.faultChannel < kMaxChannels)
        part = "the block of " + channelName(d.faultChannel);
      return file + ": damaged QVB image: " + part + " runs past the end";
    }
    case SongProblem::NewerImage: return file + ": a QVB image newer than this player reads";
    case SongProblem::NotASong: return file + ": neither a QVB image nor a song source";
    case SongProblem::NoMemory: return file + ": not enough memory for the song";
  }
  return file;
}

std::vector<std::string> describeProblems(const LoadedSong& song, const std::string& file) {
  std::vector<std::string> lines{describeProblem(song.diagnosis, file)};
  for (const SongDiagnosis& later : song.laterErrors) lines.push_back(describeProblem(later, file));
  return lines;
}

}  // namespace qvb
