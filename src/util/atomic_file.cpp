#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

#include "util/error.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

std::string SystemReason(int err) { return std::strerror(err); }

// When this process started: a temporary file of ours older than that was left by a run
// that ended without removing it (killed, or the machine stopped).
const fs::file_time_type kProcessStart = fs::file_time_type::clock::now();
constexpr std::chrono::seconds kStaleMargin{2};

// 64 random bits, from the system's generator, or the clock and a counter when it fails.
uint64_t RandomBits() {
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
  static std::atomic<uint64_t> counter{0};
  const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return (now * 0x9E3779B97F4A7C15ULL) ^ (counter.fetch_add(1) << 32) ^ static_cast<uint64_t>(::getpid());
}

// ".NAME.tmp-" followed by 16 hexadecimal digits: random, so that processes whose numbers
// repeat (containers, PID namespaces) do not collide; a collision is retried anyway.
std::string TemporaryName(const fs::path& target) {
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(RandomBits()));
  std::string name(1, '.');
  name.append(target.filename().string()).append(suffix);
  return (target.parent_path() / name).string();
}

// Whether name is one of our temporary files: ".NAME.tmp-" and 16 hexadecimal digits, or
// the earlier form ".NAME.tmp-PID-COUNT".
bool IsOurTemporaryName(const std::string& name) {
  const size_t mark = name.rfind(".tmp-");
  if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2) return false;
  const std::string tail = name.substr(mark + 5);
  const auto all = [&](auto accept) {
    return !tail.empty() && std::all_of(tail.begin(), tail.end(), [&](char c) { return accept(c); });
  };
  if (tail.size() == 16 && all([](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) return true;
  const size_t dash = tail.find('-');
  return dash != std::string::npos && dash > 0 && dash + 1 < tail.size() &&
         all([](char c) { return c == '-' || std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// Removes, once per folder and process, the temporary files of ours that runs before this
// one left there. Best effort: what cannot be looked at or removed stays.
void RemoveStaleTemporaries(const fs::path& folder) {
  static std::mutex mutex;
  static std::set<std::string> cleaned;
  const std::string key = folder.empty() ? std::string(".") : folder.string();
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!cleaned.insert(key).second) return;
  }
  std::error_code ec;
  for (fs::directory_iterator it(key, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsOurTemporaryName(name)) continue;
    std::error_code statError;
    if (!it->is_regular_file(statError) || statError) continue;
    const auto written = fs::last_write_time(it->path(), statError);
    // File times come from the kernel's coarse clock and some file systems round them to
    // the second: a margin keeps this process's own temporaries, made by other threads
    // while the folder is looked through, from passing for a dead run's.
    if (!statError && written < kProcessStart - kStaleMargin) fs::remove(it->path(), statError);
  }
}

// Creates the temporary file for target, a new name for each attempt that finds one taken.
int CreateTemporary(const fs::path& target, const std::string& path, std::string& temp) {
  for (int attempt = 0;; ++attempt) {
    temp = TemporaryName(target);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt == 15) throw Error("cannot write " + path + ": " + SystemReason(errno));
  }
}

// Flushes the folder's entries, so that a finished rename survives a power loss. Returns
// 0 or the error of a failed flush. A folder that may be written but not read (mode -wx)
// cannot be opened for the flush, and file systems that cannot flush a folder say EINVAL:
// the file is in place all the same, so neither is an error.
int SyncFolder(const fs::path& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder.string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  int err = 0;
  if (::fsync(fd) != 0 && errno != EINVAL) err = errno;
  ::close(fd);
  return err;
}

// The temporary a file is written to before it takes the target's place: its folder
// made, the temporaries a killed run left there removed.
int OpenTemporaryFor(const std::string& path, std::string& temp) {
  if (path.empty()) throw Error("cannot write a file with an empty name");
  const fs::path target(path);
  const fs::path parent = target.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) throw Error("cannot create folder " + parent.string() + " for " + path + ": " + ec.message());
  }
  IgnoreFileSizeSignal();
  RemoveStaleTemporaries(parent);
  return CreateTemporary(target, path, temp);
}

}  // namespace

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

void WriteFileAtomically(const std::string& path, std::string_view bytes) { StagedFile(path, bytes).Publish(); }

StagedFile::StagedFile(const std::string& path, std::string_view bytes) {
  std::string temp;
  const int fd = OpenTemporaryFor(path, temp);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw Error("cannot write " + path + ": " + SystemReason(err));
    }
    done += static_cast<size_t>(n);
  }
  // The data must be on the disk before the rename makes it the target; fdatasync is
  // enough (the size is data, times and owner do not matter here).
  if (::fdatasync(fd) != 0 && errno != EINVAL) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
  path_ = path;
  temp_ = temp;
}

StagedFile::~StagedFile() { Discard(); }

StreamedFile::StreamedFile(const std::string& path) : path_(path) { fd_ = OpenTemporaryFor(path, temp_); }

StreamedFile::~StreamedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

void StreamedFile::Publish() {
  if (temp_.empty()) throw Error("cannot write " + path_ + ": it is in place already");
  if (::fdatasync(fd_) != 0 && errno != EINVAL) throw Error("cannot write " + path_ + ": " + SystemReason(errno));
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Error("cannot write " + path_ + ": " + SystemReason(errno));
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) throw Error("cannot write " + path_ + ": " + SystemReason(errno));
  temp_.clear();
  FlushFolderOf(path_);
}

StagedFile::StagedFile(StagedFile&& other) noexcept : path_(std::move(other.path_)), temp_(std::move(other.temp_)) {
  other.temp_.clear();
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    Discard();
    path_ = std::move(other.path_);
    temp_ = std::move(other.temp_);
    other.temp_.clear();
  }
  return *this;
}

void StagedFile::Discard() noexcept {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void FlushFolderOf(const std::string& path) {
  if (const int err = SyncFolder(fs::path(path).parent_path()); err != 0) {
    throw Error("wrote " + path + " but could not flush its folder to the disk: " + SystemReason(err));
  }
}

void StagedFile::Publish(bool flushFolder) {
  if (temp_.empty()) throw Error("cannot write " + path_ + ": nothing is staged for it");
  const std::string temp = std::move(temp_);
  temp_.clear();
  if (std::rename(temp.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path_ + ": " + SystemReason(err));
  }
  if (flushFolder) FlushFolderOf(path_);
}

}  // namespace lumet
