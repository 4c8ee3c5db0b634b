#include "compiler/large_buffer.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace qvb {

void reserveLarge(std::vector<std::uint8_t>& bytes, std::size_t capacity) {
  bytes.reserve(capacity);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Below one large page there is nothing to gain.
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  if (bytes.capacity() < kLargePage) return;
  // Only whole pages inside the buffer: the pages around it may hold other data.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + bytes.capacity()) / page * page;
  if (end > first) static_cast<void>(madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE));
#endif
}

}  // namespace qvb
