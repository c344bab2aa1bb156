#pragma once

#include <stdio.h>
#include <unistd.h>

#include <string>

namespace sonda::test {

// While alive, this process's standard error goes to a temporary file; text() reads it.
class CapturedStderr {
 public:
  CapturedStderr() : file_(::tmpfile()), saved_(::dup(STDERR_FILENO)) {
    ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~CapturedStderr() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::fclose(file_);
  }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;

  std::string text() const {
    std::string content;
    char buffer[4096];
    for (ssize_t n, at = 0; (n = ::pread(::fileno(file_), buffer, sizeof buffer, at)) > 0;
         at += n) {
      content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
  }

 private:
  FILE* file_;
  int saved_;
};

}  // namespace sonda::test
