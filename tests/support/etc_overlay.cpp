#include "support/etc_overlay.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace sonda::test {

namespace {

bool put(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written;
}

}  // namespace

EtcOverlay::EtcOverlay()
    : upper_((dir_.path() / "upper").string()), work_((dir_.path() / "work").string()) {
  std::filesystem::create_directories(upper_);
  std::filesystem::create_directories(work_);
}

void EtcOverlay::write(const std::string& path, const std::string& content) const {
  const std::filesystem::path file = std::filesystem::path(upper_) / path;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

void EtcOverlay::enter() const {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (uid == 0) {
    if (::unshare(CLONE_NEWNS) != 0) ::_exit(kNoNamespaces);
  } else if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !put("/proc/self/setgroups", "deny") ||
             !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
             !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    ::_exit(kNoNamespaces);
  }
  const std::string options = "lowerdir=/etc,upperdir=" + upper_ + ",workdir=" + work_;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) {
    ::_exit(kNoNamespaces);
  }
}

}  // namespace sonda::test
