// libFuzzer harness: the assembler exporter over arbitrary bytes. The input is
// copied to a buffer of exactly its size so that any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "export/asm_exporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> image(data, data + size);
  std::string text;
  const int code = qvb::AsmExporter::convert(text, image.data(), image.size());
  // Refusals before the label write nothing; a conversion always ends in channel 3's data.
  if ((code == qvb::ASM_BAD_MAGIC || code == qvb::ASM_BAD_VERSION) && !text.empty()) __builtin_trap();
  if (code == qvb::ASM_CONVERTED && text.find("\t;channel 3 data\n\n") == std::string::npos) __builtin_trap();
  return 0;
}
