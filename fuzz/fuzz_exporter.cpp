// libFuzzer harness: the assembler exporter over arbitrary bytes. The input is
// copied to a buffer of exactly its size so that any read past it is caught.
// The text goes both to a string and through a stdio stream; both ways must
// give the same code and the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/asm_exporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> image(data, data + size);
  std::string text;
  const int code = qvb::AsmExporter::convert(text, image.data(), image.size());
  if (code < qvb::ASM_CONVERTED || code > qvb::ASM_PAST_END) __builtin_trap();
  // Refusals before the label write nothing; a conversion always ends in channel 3's data.
  if ((code == qvb::ASM_BAD_MAGIC || code == qvb::ASM_BAD_VERSION) && !text.empty()) __builtin_trap();
  if (code == qvb::ASM_CONVERTED && text.find("\t;channel 3 data\n\n") == std::string::npos) __builtin_trap();

  char* streamed = nullptr;
  std::size_t streamedSize = 0;
  std::FILE* out = open_memstream(&streamed, &streamedSize);
  if (out == nullptr) return 0;
  const int streamCode = qvb::AsmExporter::convert(out, image.data(), image.size());
  std::fclose(out);
  const bool same = streamCode == code && std::string(streamed, streamedSize) == text;
  std::free(streamed);
  if (!same) __builtin_trap();
  return 0;
}
