#include "console/line_output.hpp"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "core/unique_fd.hpp"

namespace sonda {
namespace {

std::string drained(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

TEST(LineOutput, SpillsWholeLinesInOrderAndReportsAFailedFlush) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd reader(ends[0]);
  UniqueFd writer(ends[1]);
  {
    LineOutput out(writer.get(), 8);
    out.line("um");  // 3 bytes: kept
    EXPECT_EQ(out.buffered(), "um\n");
    out.lines("dois\ntres\n");  // passes 8: everything so far, whole lines only
    EXPECT_EQ(out.buffered(), "");
    out.line("quatro");
    EXPECT_TRUE(out.flush());
  }
  writer.reset();
  EXPECT_EQ(drained(reader.get()), "um\ndois\ntres\nquatro\n");

  LineOutput broken(-1, 8);
  EXPECT_THROW(broken.line("0123456789"), OutputError);
  LineOutput kept(-1, 64);
  kept.line("a");
  EXPECT_EQ(kept.buffered(), "a\n");
  EXPECT_FALSE(kept.flush());
}

}  // namespace
}  // namespace sonda
