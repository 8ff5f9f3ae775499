#include "util/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/error.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

std::string SystemReason(int err) { return std::strerror(err); }

// Unique within the process and across processes writing to the same folder.
std::string TemporaryName(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::ostringstream name;
  name << "." << target.filename().string() << ".tmp-" << ::getpid() << "-" << counter++;
  return (target.parent_path() / name.str()).string();
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) throw Error("cannot write a file with an empty name");
  const fs::path target(path);
  const fs::path parent = target.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) {
      throw Error("cannot create folder " + parent.string() + " for " + path + ": " + ec.message());
    }
  }
  const std::string temp = TemporaryName(target);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw Error("cannot write " + path + ": " + SystemReason(errno));
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
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw Error("cannot read " + path + ": it is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("cannot read " + path + ": " + SystemReason(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw Error("cannot read " + path + ": read error");
  return content.str();
}

}  // namespace lumet
