#include "render/output_file.h"

namespace qvb {

OutputFile::OutputFile(const std::string& target) : place_(target) {
  if (!place_.ok()) {
    error_ = place_.error().message();
    return;
  }
  file_ = std::make_unique<SoundFile>(place_.writingTo(), soundFileTypeFor(target));
}

OutputFile::~OutputFile() { discard(); }

const std::string& OutputFile::error() const {
  return error_.empty() && file_ != nullptr ? file_->error() : error_;
}

bool OutputFile::write(const std::int16_t* samples, std::int64_t frames) {
  return ok() && file_->write(samples, frames);
}

bool OutputFile::commit() {
  if (file_ == nullptr) return false;
  if (!file_->close() && error_.empty()) error_ = file_->error();
  if (error_.empty() && !place_.commit()) error_ = place_.error().message();
  if (!error_.empty()) {
    discard();
    return false;
  }
  file_.reset();
  return true;
}

void OutputFile::discard() {
  if (file_ != nullptr) file_->close();
  file_.reset();
  place_.discard();
}

}  // namespace qvb
