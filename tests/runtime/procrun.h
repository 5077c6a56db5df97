// Running a built program as a real process for end-to-end tests, and waiting on conditions.
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace procrun {

// A path as the test's own platform spells it (Wine runs Windows programs on Unix paths).
inline std::string NativePath(std::string p) {
#ifdef _WIN32
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p)
    if (c == '/') c = '\\';
#endif
  return p;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// A fresh, empty directory under the temporary folder.
inline std::filesystem::path FreshDir(const std::string& name) {
  auto d = std::filesystem::temp_directory_path() /
           ("tapster_" + name + "_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(d);
  return d;
}

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs exe with args in dir, stdin from the null device; env is put in front (VAR=value).
inline Result Run(const std::string& exe, const std::vector<std::string>& args,
                  const std::filesystem::path& dir, const std::string& env = "",
                  const std::string& extra_redirs = "") {
  std::string outfn = (dir / "run.out").string(), errfn = (dir / "run.err").string();
#ifdef _WIN32
  std::string cmd = "cd /d \"" + dir.string() + "\" && "; // the folder may be on another drive
#else
  std::string cmd = "cd \"" + dir.string() + "\" && ";
#endif
#ifdef _WIN32
  if (!env.empty()) cmd += "set " + env + "&& ";
#else
  if (!env.empty()) cmd += env + " ";
#endif
  cmd += "\"" + NativePath(exe) + "\"";
  for (const auto& a : args)
    cmd += " " + a;
  if (extra_redirs.empty()) {
#ifdef _WIN32
    cmd += " < NUL";
#else
    cmd += " < /dev/null";
#endif
    cmd += " > \"" + outfn + "\" 2> \"" + errfn + "\"";
  } else {
    cmd += " " + extra_redirs;
  }
  std::fflush(nullptr);
  int rc = std::system(cmd.c_str());
  Result r;
#ifdef _WIN32
  r.status = rc;
#else
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  r.out = ReadFile(outfn);
  r.err = ReadFile(errfn);
  return r;
}

// Polls cond every 20 ms until it holds or limit_ms passed.
inline bool WaitFor(const std::function<bool()>& cond, int limit_ms = 30000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cond();
}

} // namespace procrun
