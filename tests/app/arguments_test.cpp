// The argument loop in-process, on the fake desktop and clock: pauses and timeouts.
#include "app/driver.h"

#include "app_fixture.h"

#include <filesystem>
#include <fstream>

namespace {
namespace fs = std::filesystem;

class ArgumentsTest : public AppTest {
protected:
  std::string File(const char* name, const char* text) {
    fs::path dir = fs::path(TAPSTER_WORK_DIR) / "arguments";
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << text;
    return "@" + (dir / name).string();
  }
  void Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    RunArguments(int(args.size()), argv.data());
  }
};

TEST_F(ArgumentsTest, OnePauseBeforeEachArgumentAfterTheFirst) {
  Window("W");
  const std::string lines = File("lines.txt", "W/A\nW/B\nW/C\n");
  // None before the first argument, none for options, none between the lines of a file.
  Run({"tapster", "W/A", "-DEBUG", lines, "/TMO=5", "W/B"});
  EXPECT_EQ(TakeError(), "");
  EXPECT_EQ(clock.sleeps, (std::vector<U4>{500, 500, 500}));
  // An option at index 1 does not take the first argument's place.
  clock.sleeps.clear();
  Run({"tapster", "-DEBUG", "W/A"});
  EXPECT_EQ(clock.sleeps, (std::vector<U4>{500}));
}

TEST_F(ArgumentsTest, TimeoutReachesTheLinesOfALaterFile) {
  const std::string missing = File("missing.txt", "Nope/A\n");
  Run({"tapster", "/TMO=0", missing, "W/B"});
  EXPECT_EQ(TakeError(), "Window \"Nope\" not found");
  // One look-up and no wait: only the pause before the file.
  EXPECT_EQ(clock.sleeps, (std::vector<U4>{500}));
  EXPECT_EQ(d.findWindowCalls, Lines{"(null)|Nope"});
}
} // namespace
