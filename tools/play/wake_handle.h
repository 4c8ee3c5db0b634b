// What a wait for keys can also be woken by (a file watch's reports): a
// descriptor that becomes readable on POSIX systems, an event object on
// Windows.
#pragma once

namespace qvb {

#ifdef _WIN32
using WakeHandle = void*;  // a HANDLE, signalled when there is news
inline constexpr WakeHandle kNoWake = nullptr;
#else
using WakeHandle = int;  // a descriptor, readable when there is news
inline constexpr WakeHandle kNoWake = -1;
#endif

}  // namespace qvb
