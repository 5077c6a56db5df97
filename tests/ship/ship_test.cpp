// Help, version and command files seen from outside, and the tables the help is made from.
#include "../runtime/procrun.h"
#include "app/helptext.h"
#include "app/keytable.h"
#include "errlog/errstack.h"
#include "runtime/optionlist.h"
#include "runtime/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;

class Ship : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = procrun::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  procrun::Result Run(const std::vector<std::string>& args) {
    return procrun::Run(TAPSTER_EXE, args, dir_);
  }
  fs::path dir_;
};

const char kUsage[] = "Keyboard/Mouse Simulation Utility\n"
                      "---------------------------------\n"
                      "Usage:\n"
                      "\tTapster {win}/{key}/{ud}/{y}/{x}\n"
                      "where:\n"
                      "\t{win} = Window name (\"~\" is wild-card character)\n"
                      "\t{key} = Key or button name\n"
                      "\t{u/d} = Up/down code: \"D\", \"U\", or \"\"DU\" (default = \"DU\")\n"
                      "\t{y}   = Y coordinate\n"
                      "\t{x}   = X coordinate\n";

TEST_F(Ship, HelpAndVersionAnswerWithStatusZero) {
  for (const char* arg : {"--help", "-help", "-h"}) {
    auto r = Run({"-DEBUG=0", arg, "Never/A"});
    EXPECT_EQ(r.status, 0) << arg << r.err;
    EXPECT_EQ(r.out.rfind(std::string(kUsage) + "\n", 0), 0u) << r.out;
    for (const char* part : {"/TMO=ms", "@file", "--version", "KP:Enter", "F1 to F24", "-DEBUG",
                             "-lpm_block_sz=bytes"})
      EXPECT_NE(r.out.find(part), std::string::npos) << part;
    EXPECT_EQ(r.out.find("Never/A"), std::string::npos) << "no command runs";
    EXPECT_EQ(r.err, "");
  }
  auto r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Tapster " TAPSTER_VERSION_TEXT "\n");
  // Both answer where the log cannot be opened.
  const std::string noLog = "-LOG=" + procrun::NativePath((dir_ / "none" / "x.log").string());
  for (const char* arg : {"--version", "--help"}) {
    r = Run({noLog, arg});
    EXPECT_EQ(r.status, 0) << arg << r.out << r.err;
    EXPECT_NE(r.out.find("Tapster"), std::string::npos) << r.out;
  }

  r = Run({}); // the bare usage text stays as it was
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kUsage);
}

TEST_F(Ship, CommandFileFromAnyEditor) {
  // A byte-order mark before the first command; the command needs no window, so the bad key
  // is the first thing it can fail on.
  std::ofstream(dir_ / "bom.txt", std::ios::binary) << "\xEF\xBB\xBF/Foo\r\n/A\r\n";
  auto r = Run({"@bom.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("/Foo\n"
                        "ERROR: Bad key name \"Foo\" [[",
                        0),
            0u)
      << r.out;

  // A folder fails with the reader's error alone: no trace line without a debug option.
  fs::create_directory(dir_ / "folder");
  r = Run({"@folder"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("(IGNORED)"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("(IGNORED)"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.rfind("ERROR: ", 0), 0u) << r.out;
}

// The help text and the manual list the key names in runs ("A to Z"); spelled out again
// they must give the key table, every name once and in order.
TEST(ShipTables, KeyNameRunsCoverTheTable) {
  std::vector<std::string> names;
  for (const KeyNameItem& item : KeyNameItems()) {
    int from = KeyNameIndex(item.first.c_str());
    int to = item.last.empty() ? from : KeyNameIndex(item.last.c_str());
    ASSERT_GE(from, 0) << item.first;
    ASSERT_GE(to, from) << item.last;
    for (int i = from; i <= to; ++i)
      names.push_back(key_names[i].name);
  }
  ASSERT_EQ(names.size(), size_t(kKeyNameCount));
  for (int i = 0; i < kKeyNameCount; ++i)
    EXPECT_EQ(names[i], key_names[i].name) << i;
}

// The README shows the key names as the help text does; a changed table must show there too.
TEST(ShipTables, ReadmeShowsTheKeyNames) {
  std::string block;
  for (const std::string& line : KeyNameLines(77))
    block += line + "\n";
  std::string readme = procrun::ReadFile(procrun::NativePath(TAPSTER_SOURCE_DIR "/README.md"));
  EXPECT_NE(readme.find("```\n" + block + "```\n"), std::string::npos) << block;
}

// Every option the help and the manual offer is one start-up accepts.
TEST(ShipTables, ListedOptionsAreAccepted) {
  std::string cwd = fs::current_path().string();
  std::vector<std::string> args{"tapster", "--help", "--version"};
  for (const OptionDoc& doc : runtime_options) {
    std::string value = doc.value;
    args.push_back(std::string(doc.name) + (value.rfind("=", 0) == 0 ? "=" + cwd : ""));
  }
  std::vector<const char*> argv;
  for (const std::string& a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  ResetStartupForTest();
  ArgText(argv.data(), nullptr);
  char bf[1024] = "";
  EXPECT_FALSE(ErrSet) << ErrMessage(true, false, bf, sizeof bf);
  ResetStartupForTest();
}

} // namespace
