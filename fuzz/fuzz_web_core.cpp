// The page's entry points with arbitrary arguments: the bytes as a song (and
// as an image), sizes that lie, null pointers, lengths, loop counts and fades
// of any value, a player pulled in pieces of any length, the Game Boy files.
// Nothing may crash or read outside what it was given.
#include <cstdint>
#include <cstring>
#include <vector>

#include "web/core/web_core.h"

namespace {

int intAt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::int32_t value = 0;
  if (at + 4 <= size) std::memcpy(&value, data + at, 4);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first 16 bytes choose the numbers; the rest is the song.
  const int length = intAt(data, size, 0) % 200000;
  const int loops = intAt(data, size, 4);
  const int fade = intAt(data, size, 8) % 50000;
  const int pull = intAt(data, size, 12);
  const std::size_t head = size < 16 ? size : 16;
  const std::vector<std::uint8_t> song(data + head, data + size);
  const auto* bytes = song.empty() ? nullptr : song.data();
  const int n = static_cast<int>(song.size());

  qvbw_load(nullptr, n);
  qvbw_render(nullptr, n, length, loops, fade);
  qvbw_warnings(nullptr, n, nullptr);
  qvbw_warnings(bytes, n, (pull & 1) ? nullptr : "song.qvm");
  for (int i = -1; i <= qvbw_warning_count(); ++i) {
    qvbw_warning_line(i);
    qvbw_warning_text(i);
  }
  // A survey runs up to the song's end (ten minutes at most): only its
  // refusals of arguments here.
  qvbw_survey(nullptr, n, loops, fade);
  qvbw_survey(bytes, n, loops < 1 ? loops : 0, fade);
  qvbw_survey(bytes, n, 1, fade <= 0 ? fade : -fade);
  qvbw_survey_event_count();
  qvbw_render_intro_frame();
  qvbw_render_loop_frames();
  qvbw_load(bytes, -n - 1);
  if (qvbw_load(bytes, n) != 1) {
    qvbw_diagnosis(nullptr);
    qvbw_diagnosis("song.qvm");
    // Every later error, and the indices on either side of them.
    for (int i = -1; i <= qvbw_later_error_count(); ++i) {
      qvbw_later_error_line(i);
      qvbw_later_error_row(i);
      qvbw_later_diagnosis(i, i % 2 ? "song.qvm" : nullptr);
    }
    qvbw_export_asm(bytes, n);
    return 0;
  }
  const std::vector<std::uint8_t> image(qvbw_image(), qvbw_image() + qvbw_image_size());
  const int imageSize = static_cast<int>(image.size());
  qvbw_export_asm(image.data(), imageSize);
  // An exact length keeps every render short; -1 would render up to ten minutes.
  qvbw_render(image.data(), imageSize, length == -1 ? 4410 : length, loops % 4, fade);
  // A song that ends or loops within that render is short to survey: its
  // notes are placed in the source just loaded.
  if (qvbw_render_end_frame() >= 0 && qvbw_survey(image.data(), imageSize, 1, 1 + (pull & 0xfff)) == 1) {
    // Each loop pass spans some time and is one of its loop's passes.
    for (int i = 0; i < qvbw_survey_repeat_count(); ++i) {
      const std::int32_t* p = qvbw_survey_repeats() + 6 * i;
      if (p[1] >= p[2] || p[3] < 1 || p[3] > p[4]) __builtin_trap();
    }
  }
  // The Game Boy files of a song that ends within that render (one that
  // plays on would be worked out up to its loops): a ROM of whole banks, or
  // a GBS file.
  qvbw_game_boy(image.data(), imageSize, 2);
  if (qvbw_render_end_frame() >= 0 && qvbw_game_boy(image.data(), imageSize, pull & 1) == 1) {
    const int made = qvbw_game_boy_size();
    if ((pull & 1) == 0 && (made < 0x8000 || made % 0x4000 != 0)) __builtin_trap();
    if ((pull & 1) == 1 && (made < 0x70 || std::memcmp(qvbw_game_boy_bytes(), "GBS", 3) != 0)) __builtin_trap();
  }
  WebPlayer* player = qvbw_player_new(image.data(), imageSize);
  if (player == nullptr) return 0;
  for (int i = 0; i < 8; ++i) {
    qvbw_player_fill(player, (pull >> (4 * i)) % 9000);
    qvbw_player_mute(player, (pull >> i) % 30 - 2, i & 1);
  }
  qvbw_player_loops(player);
  qvbw_player_finished(player);
  qvbw_player_free(player);
  return 0;
}
