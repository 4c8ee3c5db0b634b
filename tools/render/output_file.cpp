#include "render/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qvb {

namespace {

// A new empty file beside `target`, readable as a file created the usual way
// would be; empty name (errno set) when none can be made.
std::string makeTemporaryBeside(const std::filesystem::path& target) {
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  const std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return {};
#ifndef _WIN32
  // Windows files carry no such modes.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
#endif
  close(fd);
  return name.data();
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target), writing_(target) {
  const SoundFileType type = soundFileTypeFor(target);
  std::error_code ec;
  std::filesystem::path place = target;
  // A link is followed: the file it names is the one replaced.
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(place, ec))) {
    const std::filesystem::path named = std::filesystem::canonical(place, ec);
    if (!ec) place = named;
  }
  const auto status = std::filesystem::status(place, ec);
  direct_ = std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  if (!direct_) {
    target_ = place.string();
    writing_ = makeTemporaryBeside(place);
    if (writing_.empty()) {
      error_ = std::strerror(errno);
      return;
    }
  }
  file_ = std::make_unique<SoundFile>(writing_, type);
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
  if (error_.empty() && !direct_) {
    std::error_code ec;
    std::filesystem::rename(writing_, target_, ec);
    if (ec) error_ = ec.message();
  }
  if (!error_.empty()) {
    discard();
    return false;
  }
  file_.reset();
  return true;
}

void OutputFile::discard() {
  if (file_ == nullptr) return;
  file_->close();
  file_.reset();
  if (!direct_) std::remove(writing_.c_str());
}

}  // namespace qvb
