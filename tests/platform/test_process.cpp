// Starting a program that runs on by itself.
#include "platform/FileSys.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace plm;

namespace {

// What the started program wrote to path, once it has (it renames the file into place
// when done); empty after a long wait.
std::string WaitForFile(const std::string &path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!FileExists(path) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

} // namespace

TEST(StartDetached, ProgramGetsItsArgumentsAndIsNoChildOfThisProcess) {
  char tmpl[] = "/tmp/plmstartXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const std::string out = dir + "/out";
  const std::string arg = "a  b 'c' \"d\" $HOME `x` -e";
  // The program writes its second argument and its parent's number.
  ASSERT_TRUE(StartDetached(
      {"sh", "-c", "printf '%s\\n%s' \"$1\" \"$PPID\" >\"$0.t\" && mv \"$0.t\" \"$0\"", out, arg}));
  const std::string written = WaitForFile(out);
  ASSERT_FALSE(written.empty());
  const size_t nl = written.find('\n');
  ASSERT_NE(nl, std::string::npos);
  EXPECT_EQ(written.substr(0, nl), arg);
  EXPECT_NE(written.substr(nl + 1), std::to_string(::getpid()));
  // Nothing is left for this process to wait for.
  int status = 0;
  EXPECT_LE(::waitpid(-1, &status, WNOHANG), 0);
  DeleteFile(out);
  RemoveDir(dir);
}

TEST(StartDetached, MissingProgramOrEmptyCommandIsRefused) {
  EXPECT_FALSE(StartDetached({"plmlooker-no-such-program"}));
  EXPECT_FALSE(StartDetached({"/nonexistent/dir/prog", "x"}));
  EXPECT_FALSE(StartDetached({}));
  EXPECT_FALSE(StartDetached({""}));
}
