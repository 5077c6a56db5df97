// A fresh temporary folder per test, removed afterwards, with small file helpers.
#pragma once
#include "errlog/errstack.h"
#include "files/fldf.h"
#include "files/mrf.h"
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

inline // Links need a privilege or developer mode on Windows, and Wine keeps only some kinds:
    // false where a relative link to a file cannot be made and read back.
    bool
    CanLink(const std::string& at) {
  const std::string target = at + "/.target", probe = at + "/.probe";
  std::ofstream(target) << "t";
  char bf[300] = "";
  const bool ok = PlatformCreateLink(probe.c_str(), ".target", false) &&
                  (PlatformAttributes(probe.c_str()) & kFsAttrLink) &&
                  PlatformReadLink(probe.c_str(), bf, sizeof bf) && std::string(bf) == ".target";
  PlatformRemoveFile(probe.c_str());
  PlatformRemoveFile(target.c_str());
  return ok;
}

class TempDirTest : public ::testing::Test {
protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    dir =
        fs::temp_directory_path() /
        ("tapster_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    ClearErr();
    for (FLDF& slot : fldf_tbl)
      FLClose(&slot);
    for (MRFD& md : mrf_tbl)
      if (md.name[0]) {
        md.writer = 0;
        md.readers = 0;
        DeleteMRF(md.name);
      }
    std::error_code ec;
    std::filesystem::permissions(dir, std::filesystem::perms::all, ec);
    std::filesystem::remove_all(dir, ec);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string Error() {
    char msg[2048];
    const char* m = ErrMessage(false, false, msg, sizeof msg);
    return m ? m : "";
  }
  std::filesystem::path dir;
};
