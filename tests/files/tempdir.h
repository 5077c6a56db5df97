// A fresh temporary folder per test, removed afterwards, with small file helpers.
#pragma once
#include "errlog/errstack.h"
#include "files/fldf.h"
#include "files/mrf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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
