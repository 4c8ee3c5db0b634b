#include "play/file_watch.h"

namespace qvb {

// Either way the file's stamp decides: an event only says when to look (and
// catches a save within the same clock tick as the last one). A save the
// events say is whole (closed after writing, or renamed into place) is read
// at once; any other change once it has been quiet for kSettleMs.
bool FileWatch::changed(std::int64_t nowMs) {
  bool finished = false;
  const bool touched = events_ != nullptr && drainEvents(finished);
  const Stamp now = stamp();
  if (touched || !(now == last_)) {
    pending_ = true;
    lastChangeMs_ = nowMs;
    last_ = now;
  }
  wholeSave_ = wholeSave_ || finished;
  if (!pending_ || !now.exists || (!wholeSave_ && nowMs - lastChangeMs_ < kSettleMs)) return false;
  pending_ = false;
  wholeSave_ = false;
  return true;
}

}  // namespace qvb
