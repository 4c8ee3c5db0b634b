// Reserving a byte vector of megabytes that is then filled front to back: a
// source read whole, an image being written. Where the system offers large
// pages the reservation asks for them, so that filling it takes a few page
// faults instead of one per 4 KiB page. Only a hint: contents, sizes and
// failures stay as they are without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvb {

// Reserves capacity bytes (std::bad_alloc as vector::reserve throws it).
void reserveLarge(std::vector<std::uint8_t>& bytes, std::size_t capacity);

}  // namespace qvb
