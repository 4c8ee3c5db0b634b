#include "song/qvb_format.h"

#include <cstring>

namespace qvb {

bool hasMagic(std::span<const std::uint8_t> image) {
  return image.size() >= kMagicSize && std::memcmp(image.data(), kMagic, kMagicSize) == 0;
}

}  // namespace qvb
