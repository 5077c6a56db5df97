#include "../runtime/procrun.h"
#include "files/fileops.h"
#include "files/fname.h"
#include "files/ftest.h"
#include "files/mediafn.h"
#include "platform/fs.h"
#include "tempdir.h"

#include <cstdlib>
#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
using WholeFile = TempDirTest;

std::string Str(const char* st) {
  return st ? st : "(null)";
}

#ifndef _WIN32
// A private X server; display stays empty where none can be started.
struct PrivateX {
  PrivateX() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const int null = open("/dev/null", O_WRONLY); // it tries numbers taken by others
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-nolisten", "tcp",
             nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number; // written once the server accepts clients
    for (char c; read(fds[0], &c, 1) == 1 && c != '\n';)
      number += c;
    close(fds[0]);
    if (!number.empty()) display = ":" + number;
  }
  ~PrivateX() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  pid_t pid = -1;
  std::string display;
};
#endif
} // namespace

TEST_F(WholeFile, NamePartsAndPaths) {
  EXPECT_EQ(Str(FileExt("C:\\v1.2\\Makefile")), "(null)");
  EXPECT_EQ(Str(FileExt("a/b.c/d.tar.gz")), "gz");
  char bf[300];
  EXPECT_EQ(Str(FileNoExt("dir.x/name.txt", bf, sizeof bf)), "dir.x/name");
  EXPECT_EQ(Str(FileNamePart("C:file.txt")), "file.txt");
  EXPECT_EQ(Str(FileNamePart("a\\b/c")), "c");
  EXPECT_EQ(Str(FileDirPart("C:file.txt", bf, sizeof bf)), "C:");
  EXPECT_EQ(Str(FileDirPart("a/b\\c", bf, sizeof bf)), "a/b");
  EXPECT_EQ(Str(FileDirPart("\\top", bf, sizeof bf)), "(null)");
  EXPECT_EQ(Str(FileDirPart("\\\\server", bf, sizeof bf)), "(null)");
  EXPECT_EQ(Str(FileDirPart("plain", bf, sizeof bf)), "(null)");
  EXPECT_TRUE(IsMediaFN("clip.MP4.part"));

  const std::string sub = Path("sub");
  fs::create_directories(sub);
  char full[300], want[300];
  ASSERT_NE(FullPath((sub + "/./x/../f.txt").c_str(), true, full, sizeof full), nullptr);
  FullPath((sub + "/f.txt").c_str(), true, want, sizeof want);
  EXPECT_STREQ(full, want);
  EXPECT_EQ(Str(FullPath("MRF:x", true, full, sizeof full)), "MRF:x");

  // The command path: a trailing separator forms no doubled one.
  Put("sub/tool.bin", "t");
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  const std::string list =
      std::string(PlatformHasDrives() ? "Q:\\none;" : "/none:") + sub + PlatformDirSep();
#ifdef _WIN32
  _putenv_s("PATH", list.c_str());
#else
  setenv("PATH", list.c_str(), 1);
#endif
  EXPECT_EQ(Str(FindFileInPath_MyBf("tool.bin", true, bf, sizeof bf)),
            sub + PlatformDirSep() + "tool.bin");
  EXPECT_EQ(FindFileInPath_MyBf("none.bin", true, bf, sizeof bf), nullptr);
  EXPECT_EQ(Error(), "File \"none.bin\" not found in path");
#ifdef _WIN32
  _putenv_s("PATH", saved.c_str());
#else
  setenv("PATH", saved.c_str(), 1);
#endif
}

TEST_F(WholeFile, TestsAndTheirMessages) {
  const std::string f = Put("f.txt", "12345");
  EXPECT_TRUE(FileExists(f.c_str(), true));
  EXPECT_FALSE(FileExists(dir.string().c_str(), true));
  EXPECT_EQ(Error(), "\"" + dir.string() + "\" is a directory");
  EXPECT_FALSE(FileExists(Path("no").c_str(), true));
  EXPECT_EQ(Error(), "File \"" + Path("no") + "\" not found");
  EXPECT_FALSE(DirectoryExists(f.c_str(), true));
  EXPECT_EQ(Error(), "\"" + f + "\" is a regular file");
  EXPECT_TRUE(FileOrDirectoryExists(dir.string().c_str(), true));
  EXPECT_EQ(FileSize8(f.c_str(), true), 5u);
  EXPECT_TRUE(TimeTToFileTime(f.c_str(), 1000000000));
  EXPECT_EQ(FileMTime(f.c_str(), true), 1000000000);
  EXPECT_FALSE(TimeTToFileTime(f.c_str(), -1));
  EXPECT_EQ(Error(), "mtime is undefined file=" + f);
  EXPECT_FALSE(FileIsLink(f.c_str()));
  char bf[300];
  EXPECT_EQ(ReadLink(f.c_str(), bf, sizeof bf), nullptr);
  EXPECT_EQ(Error(), "\"" + f + "\" is not a link");
  EXPECT_EQ(FileAttribute("MRF:x"), kAllU4);
  EXPECT_EQ(Error(), "FileAttribute:Function not supported for MRF (file=MRF:x)");
  if (!CanLink(dir.string())) GTEST_SKIP() << "no symbolic links here";

  const std::string dangling = Path("dangling");
  EXPECT_TRUE(CreateLink(dangling.c_str(), "gone.txt", 0));
  EXPECT_TRUE(FileIsLink(dangling.c_str()));
  EXPECT_FALSE(FileExists(dangling.c_str(), true));
  EXPECT_EQ(Error(), "File \"" + dangling + "->gone.txt\" not found");
  {
    RedirectLinks off(false);
    EXPECT_TRUE(FileExists(dangling.c_str(), true)) << "the link itself";
  }
  // A relative target counts from the link's own folder, not the current one.
  const std::string link = Path("sub_link");
  fs::create_directories(Path("sub"));
  Put("sub/t.txt", "target");
  EXPECT_TRUE(CreateLink(link.c_str(), "sub", -1));
  char full[300], want[300];
  FullPath(link.c_str(), true, full, sizeof full);
  FullPath(Path("sub").c_str(), true, want, sizeof want);
  EXPECT_STREQ(full, want);
  EXPECT_TRUE(DirectoryExists(link.c_str(), true));
  EXPECT_TRUE(CreateLink(link.c_str(), "sub", -1)) << "the same target: nothing to do";
  EXPECT_FALSE(CreateLink(f.c_str(), "sub", -1));
  EXPECT_NE(Error().find("exists and is not a link"), std::string::npos);
  EXPECT_EQ(Get(f), "12345") << "a file is never replaced by a link";
}

TEST_F(WholeFile, SelfCopiesAndFailedCopiesKeepTheFiles) {
  const std::string src = Put("src.txt", "source\r\n");
  fs::create_directories(Path("sub"));
  for (const std::string& same :
       {src, Path("./src.txt"), Path("sub/../src.txt"), Path("SUB/../src.txt")}) {
    if (same.find("SUB") != std::string::npos && !FileExists(same.c_str(), false)) continue;
    EXPECT_TRUE(MyCopyFile(same.c_str(), src.c_str(), false)) << same << Error();
    EXPECT_TRUE(MyMoveFile(same.c_str(), src.c_str())) << same << Error();
    EXPECT_EQ(Get(src), "source\r\n") << same;
  }
  if (CanLink(dir.string())) {
    CreateLink(Path("alias").c_str(), src.c_str(), 0);
    EXPECT_TRUE(MyCopyFile(Path("alias").c_str(), src.c_str(), false));
    EXPECT_EQ(Get(src), "source\r\n") << "a link to the source is the source";
  }

  // A copy replaces the destination only once it is whole.
  const std::string dst = Put("dst.txt", "old");
  TimeTToFileTime(src.c_str(), 1200000000);
  EXPECT_TRUE(MyCopyFile(dst.c_str(), src.c_str(), false));
  EXPECT_EQ(Get(dst), "source\r\n");
  EXPECT_EQ(FileMTime(dst.c_str(), true), 1200000000);
  Put("dst.txt", "old");
  const std::string missing = Path("missing.txt");
  EXPECT_FALSE(MyCopyFile(dst.c_str(), missing.c_str(), false));
  EXPECT_EQ(Error(), "File \"" + missing + "\" not found (" + missing + " -> " + dst + ")");
  const std::string nowhere = Path("no/such/dir.txt");
  EXPECT_FALSE(MyCopyFile(nowhere.c_str(), src.c_str(), false));
  EXPECT_NE(Error().find(" (" + src + " -> " + nowhere + ")"), std::string::npos);
  EXPECT_FALSE(MyCopyFile(Path("sub").c_str(), src.c_str(), false)) << "onto a folder";
  EXPECT_NE(Error().find(" (" + src + " -> " + Path("sub") + ")"), std::string::npos);
  EXPECT_EQ(Get(src), "source\r\n");
  EXPECT_EQ(Get(dst), "old");
  EXPECT_TRUE(fs::is_directory(Path("sub")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
            fs::exists(Path("alias")) ? 4 : 3)
      << "no side file is left behind";
  EXPECT_TRUE(MyCopyFile(dst.c_str(), "cb", false) || ErrSet);
  ClearErr();
}

TEST_F(WholeFile, MovesRenamesAndDeletes) {
  const std::string a = Put("a.txt", "a");
  EXPECT_TRUE(MyMoveFile(Path("b.txt").c_str(), a.c_str()));
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(Get(Path("b.txt")), "a");
  Put("c.txt", "c");
  EXPECT_FALSE(RenameFile(Path("c.txt").c_str(), Path("b.txt").c_str()));
  EXPECT_EQ(Error(), "\"" + Path("c.txt") + "\" already exists (" + Path("b.txt") + " -> " +
                         Path("c.txt") + ")");
  EXPECT_TRUE(RenameFile(Path("B.TXT").c_str(), Path("b.txt").c_str()));
  EXPECT_TRUE(fs::exists(Path("B.TXT")));

  // Across file systems where there is a second one.
  const char* other = "/dev/shm";
  FsStat here, there;
  if (PlatformStat(other, true, &there) && PlatformStat(dir.string().c_str(), true, &here) &&
      here.volume != there.volume) {
    const std::string far = std::string(other) + "/tapster_move_" + dir.filename().string();
    EXPECT_TRUE(MyMoveFile(far.c_str(), Path("c.txt").c_str())) << Error();
    EXPECT_EQ(Get(far), "c");
    EXPECT_FALSE(fs::exists(Path("c.txt")));
    EXPECT_TRUE(MyMoveFile(Path("back.txt").c_str(), far.c_str())) << Error();
    EXPECT_EQ(Get(Path("back.txt")), "c");
    EXPECT_FALSE(fs::exists(far));
  }

  EXPECT_TRUE(DelFile(Path("never-there").c_str()));
  const std::string ro = Put("ro.txt", "r");
  AttributeToFile(ro.c_str(), kFsAttrReadOnly, true);
  EXPECT_TRUE(DelFile(ro.c_str())) << Error();
  EXPECT_FALSE(fs::exists(ro));
  fs::create_directories(Path("folder"));
  EXPECT_FALSE(DelFile(Path("folder").c_str()));
  EXPECT_EQ(Error(), "Delete error on \"" + Path("folder") + "\" (is a directory)");
#ifndef _WIN32
  // A file that stays whatever this process may do.
  if (FileExists("/proc/version", false)) {
    EXPECT_FALSE(DelFile("/proc/version"));
    EXPECT_EQ(Error(), "Delete error on \"/proc/version\"");
  }
#endif

  // Names a command interpreter would expand; a link out of the tree is not followed.
  const std::string outside = Put("outside.txt", "stays");
  for (const char* name : {"%CD%", "$(x)", "a;b", "&x"}) {
    const std::string d = Path(name);
    fs::create_directories(d + "/inner");
    Put(std::string(name) + "/inner/f.txt", "f");
    if (CanLink(dir.string())) {
      CreateLink((d + "/out").c_str(), outside.c_str(), 0);
      CreateLink((d + "/up").c_str(), dir.string().c_str(), 1);
      CreateLink((d + "/dangling").c_str(), "gone", 0);
    }
    EXPECT_TRUE(DelDirectory(d.c_str(), true)) << name << Error();
    EXPECT_FALSE(fs::exists(d)) << name;
  }
  EXPECT_EQ(Get(outside), "stays");
  EXPECT_TRUE(fs::exists(Path("B.TXT")));
  for (const char* name : {"%CD%.tmp", "$(x).tmp", "a;b.TMP", "keep.txt"})
    Put(name, "x");
  EXPECT_TRUE(DelFSpec(Path("*.tmp").c_str())) << Error();
  EXPECT_FALSE(fs::exists(Path("%CD%.tmp")) || fs::exists(Path("$(x).tmp")) ||
               fs::exists(Path("a;b.TMP")));
  EXPECT_TRUE(fs::exists(Path("keep.txt")));
  if (CanLink(dir.string())) {
    CreateLink(Path("dl").c_str(), "gone", 0);
    EXPECT_TRUE(DelFile(Path("dl").c_str()));
    EXPECT_FALSE(fs::symlink_status(Path("dl")).type() == fs::file_type::symlink)
        << "a dangling link is really deleted";
  }
}

TEST_F(WholeFile, LogNamedLikeTheCommandFileIsRefused) {
  const std::string cmds = "/TMO=0\r\n";
  Put("c.txt", cmds);
  fs::create_directories(Path("sub"));
  for (const std::string log : {"c.txt", "sub/../c.txt"}) {
    const auto r = procrun::Run(TAPSTER_EXE, {"-LOG=" + log, "@c.txt"}, dir);
    EXPECT_EQ(r.status, 1) << log << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("is the command file"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(Get(Path("c.txt")), cmds) << log;
  }
}

#ifndef _WIN32
TEST_F(WholeFile, ClipboardAsSourceAndDestination) {
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old ? old : "";
  const std::string a = Put("a.txt", "line one\r\nline two\r\n");
  unsetenv("DISPLAY");
  EXPECT_FALSE(MyCopyFile("CB", a.c_str(), false));
  EXPECT_EQ(Error().rfind("Clipboard not supported (no X display)", 0), 0u);
  PrivateX x;
  if (x.display.empty()) GTEST_SKIP() << "no X server to try the clipboard on";
  setenv("DISPLAY", x.display.c_str(), 1);
  EXPECT_TRUE(MyCopyFile("CB", a.c_str(), false)) << Error();
  EXPECT_TRUE(MyCopyFile(Path("b.txt").c_str(), "cb", false)) << Error();
  EXPECT_EQ(Get(Path("b.txt")), "line one\r\nline two\r\n") << "the last terminator comes back";
  // A second copy takes the clipboard over from the first.
  EXPECT_TRUE(MyCopyFile("CB", Put("c.sh", "echo\n").c_str(), false)) << Error();
  EXPECT_TRUE(MyCopyFile(Path("d.sh").c_str(), "CB", false)) << Error();
  EXPECT_EQ(Get(Path("d.sh")), "echo\n");
  if (saved.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", saved.c_str(), 1);
}
#endif
