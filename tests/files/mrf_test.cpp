#include "errlog/logline.h"
#include "errlog/notify.h"
#include "errlog/pgmlog.h"
#include "files/fileops.h"
#include "files/ftest.h"
#include "mem/tracked.h"
#include "platform/fs.h"
#include "tempdir.h"

#include <vector>

namespace {
using V = std::vector<std::string>;
using MemFiles = TempDirTest;

V Records(const char* fn) {
  V out;
  FLDF* fd = FLOpenRead(fn);
  while (const char* rec = FLReadRec(fd))
    out.emplace_back(rec);
  FLClose(fd);
  return out;
}
} // namespace

TEST_F(MemFiles, RoundTripsWithReadersAndOneWriter) {
  EXPECT_TRUE(FileWriteSt("MRF:Probe.TXT", "one"));
  EXPECT_TRUE(FileAppendSt("mrf:probe.txt", "two"));
  EXPECT_EQ(Records("mRf:PROBE.txt"), (V{"one", "two"}));
  EXPECT_TRUE(FileExists("MRF:probe.txt", false));
  EXPECT_EQ(FileSize("MRF:probe.txt", true), 10u);

  FLDF* w = FLOpenApp("MRF:probe.txt");
  FLDF* r1 = FLOpenRead("MRF:probe.txt");
  FLDF* r2 = FLOpenRead("MRF:probe.txt");
  EXPECT_EQ(FLOpenWrite("MRF:probe.txt"), nullptr);
  EXPECT_EQ(Error(), "MRF:probe.txt is already open");
  EXPECT_FALSE(DelFile("MRF:probe.txt")) << "its handles would be left dangling";
  ClearErr();
  r1 = FLClose(r1);
  EXPECT_EQ(FLOpenWrite("MRF:probe.txt"), nullptr) << "a reader's close keeps the writer's lock";
  ClearErr();
  FLWriteSt(w, "three");
  EXPECT_EQ(ReadIntoCache(w), 0u);
  EXPECT_EQ(Error(), "ReadIntoCache:Function not supported for MRF (file=MRF:probe.txt)");
  w = FLClose(w);
  EXPECT_EQ(FLOpenWrite("MRF:probe.txt"), nullptr) << "a reader alone holds it too";
  EXPECT_EQ(Error(), "MRF:probe.txt is already open");
  EXPECT_STREQ(FLReadRec(r2), "one") << "a reader sees the size it opened";
  EXPECT_STREQ(FLReadRec(r2), "two");
  EXPECT_EQ(FLReadRec(r2), nullptr);
  EXPECT_FALSE(PosFL(r2, 11));
  EXPECT_EQ(Error(), "PosFL: Pointer (11) > file size (10, MRF:probe.txt)");
  EXPECT_TRUE(PosFL(r2, 5));
  EXPECT_STREQ(FLReadRec(r2), "two");
  EXPECT_EQ(r2->rec_no, 2u) << "counted again from the contents";
  r2 = FLClose(r2);
  EXPECT_TRUE(DelFile("MRF:probe.txt"));
  EXPECT_FALSE(MRFExists("MRF:probe.txt", true));
  EXPECT_EQ(Error(), "\"MRF:probe.txt\" not found");

  // Terminators: a lone CR ends a record too; a fresh "\n" text is the shared one.
  FLDF* fd = FLOpen("MRF:t", FL_WRITE, std::string("\n").c_str());
  ASSERT_NE(fd, nullptr);
  EXPECT_EQ(fd->trm, TRM_LF);
  FLWriteBf(fd, "a\rb\r\nc", kAllU4);
  FLClose(fd);
  EXPECT_EQ(Records("MRF:t"), (V{"a", "b", "c"}));
  EXPECT_EQ(FLOpen("MRF:u", FL_WRITE, "\r"), nullptr);
  EXPECT_EQ(Error(), "Open error on \"MRF:u\"trm=\\r");
  EXPECT_FALSE(MRFExists("MRF:u", false));
}

TEST_F(MemFiles, GrowthAndFullTables) {
  const std::string mib(1048544, 'x');
  FLDF* fd = FLOpenWrite("MRF:big");
  EXPECT_TRUE(FLWriteBf(fd, mib.data(), U4(mib.size())));
  EXPECT_EQ(fd->mrf->bfsz, 2097120u) << "the closing zero byte needs room";
  MRFD* md = fd->mrf;
  FLClose(fd);
  EXPECT_EQ(md->bfsz, 1048545u) << "trimmed on close";

  // A full descriptor table creates nothing and leaves nothing open.
  const std::string file = Put("f.txt", "f\n");
  std::vector<FLDF*> fds;
  while (FLDF* d = FLOpenRead(file.c_str()))
    fds.push_back(d);
  ClearErr();
  EXPECT_EQ(FLOpenWrite("MRF:late"), nullptr);
  EXPECT_EQ(Error(), "MRFLOpen:FLDF slot overflow");
  EXPECT_FALSE(MRFExists("MRF:late", false));
  for (FLDF* d : fds)
    FLClose(d);

  for (U4 i = 1; i < kMRFSlots; ++i)
    FileWriteSt(("MRF:n" + std::to_string(i)).c_str(), "x");
  EXPECT_FALSE(ErrSet) << Error();
  EXPECT_EQ(FLOpenWrite("MRF:one too many"), nullptr);
  EXPECT_EQ(Error(), "MRFLOpen:MRF slot overflow");
  EXPECT_TRUE(DelFile("MRF:n7"));
  EXPECT_TRUE(FileWriteSt("MRF:one too many", "x"));
}

TEST_F(MemFiles, CopiesMovesAndDiskCopies) {
  const std::string disk = Put("d.txt", "disk\r\n");
  EXPECT_TRUE(MyCopyFile("MRF:d", disk.c_str(), false));
  EXPECT_EQ(Records("MRF:d"), V{"disk"});
  EXPECT_TRUE(MyMoveFile(Path("back.txt").c_str(), "MRF:d"));
  EXPECT_EQ(Get(Path("back.txt")), "disk\r\n");
  EXPECT_FALSE(MRFExists("MRF:d", false));

  // Between two MRF names a missing source leaves the destination alone.
  FileWriteSt("MRF:dst", "keep");
  EXPECT_FALSE(MyMoveFile("MRF:dst", "MRF:nothing"));
  EXPECT_EQ(Error(), "\"MRF:nothing\" not found (MRF:nothing -> MRF:dst)");
  EXPECT_EQ(Records("MRF:dst"), V{"keep"});
  EXPECT_TRUE(MyMoveFile("MRF:moved", "MRF:dst"));
  EXPECT_EQ(Records("MRF:moved"), V{"keep"});

  std::error_code ec;
  const auto old = std::filesystem::current_path(ec);
  std::filesystem::current_path(dir);
  CopyMRFsToHD();
  std::filesystem::current_path(old);
  EXPECT_EQ(Get(Path("MRF_moved")), "keep\r\n");
  EXPECT_FALSE(ErrSet) << Error();

  // A copy that fails is reported through the log, and the next one still goes; with
  // nobody to report it the error stays pending and the copies stop.
  std::filesystem::remove(Path("MRF_moved"), ec);
  std::filesystem::create_directories(Path("MRF_moved/sub"), ec);
  FileWriteSt("MRF:zlast", "last");
  std::filesystem::current_path(dir);
  bool (*reporter)() = report_err_hook;
  report_err_hook = nullptr;
  CopyMRFsToHD();
  report_err_hook = reporter;
  EXPECT_TRUE(ErrSet);
  ClearErr();
  EXPECT_EQ(std::string(log_line).find("MRF:zlast"), std::string::npos) << log_line;
  EXPECT_FALSE(std::filesystem::exists(Path("MRF_zlast")));
  ProcessErr(); // the program's error report; the test links it by calling it
  CopyMRFsToHD();
  std::filesystem::current_path(old);
  EXPECT_FALSE(ErrSet) << Error();
  EXPECT_EQ(Get(Path("MRF_zlast")), "last\r\n");
  EXPECT_NE(std::string(log_line).find("MRF_zlast"), std::string::npos) << log_line;
}

TEST_F(MemFiles, WriteHandlePositionDropsPendingBytes) {
  for (const char* fn : {"MRF:pos", "pos.txt"}) {
    const std::string name = fn[0] == 'M' ? fn : Path(fn);
    FLDF* fd = FLOpenWrite(name.c_str());
    FLWriteBf(fd, "abcdef", kAllU4);
    EXPECT_TRUE(PosFL(fd, 2));
    FLWriteBf(fd, "X", kAllU4);
    FLClose(fd);
    U4 len = 0;
    char* text = FileReadBf(name.c_str(), &len);
    EXPECT_EQ(std::string(text ? text : "", len), "abX") << name;
    FreeSP(&text);
  }
}

TEST_F(MemFiles, PositionsBeyondFourGiB) {
  constexpr U8 kBig = 5ull << 30;
  std::error_code ec;
  const auto space = std::filesystem::space(dir, ec);
  const std::string path = Put("sparse.bin", "");
  if (ec || space.available < kBig + (1ull << 30) || !PlatformTruncate(path.c_str(), kBig))
    GTEST_SKIP() << "no room for a file beyond 4 GiB here";
  FLDF* fd = FLOpenApp(path.c_str());
  ASSERT_NE(fd, nullptr) << Error();
  EXPECT_EQ(FLPos(fd), kBig);
  FLWriteBf(fd, "tail\n", kAllU4);
  FLClose(fd);
  EXPECT_EQ(FileSize8(path.c_str(), true), kBig + 5);
  EXPECT_EQ(FileSize(path.c_str(), true), 0u);
  EXPECT_EQ(Error(), "FileSize:File size (5,368,709,125) > 4,294,967,295 bytes");

  fd = FLOpenRead(path.c_str());
  ASSERT_NE(fd, nullptr) << Error();
  EXPECT_TRUE(PosFL(fd, kBig));
  EXPECT_STREQ(FLReadRec(fd), "tail");
  EXPECT_EQ(FLPos(fd), kBig + 5);
  EXPECT_TRUE(PosFL(fd, kBig + 2));
  EXPECT_EQ(FLReadByteReverse(fd), 'a');
  EXPECT_EQ(FLReadByteReverse(fd), 't');
  EXPECT_EQ(FLReadByteReverse(fd), 0) << "the hole reads as zero bytes";
  EXPECT_TRUE(PosFL(fd, (4ull << 30) + 1));
  EXPECT_EQ(FLReadByte(fd), 0);
  EXPECT_EQ(FLPos(fd), (4ull << 30) + 2);
  FLClose(fd);
  EXPECT_FALSE(ErrSet) << Error();
}
