#include "errlog/errstack.h"
#include "files/fldf.h"
#include "mem/tracked.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
class Files : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tapster_files_" + std::to_string(std::rand()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    ClearErr();
    for (FLDF& slot : fldf_tbl)
      FLClose(&slot);
    std::error_code ec;
    fs::permissions(dir, fs::perms::all, ec);
    fs::remove_all(dir, ec);
  }
  std::string Path(const char* name) { return (dir / name).string(); }
  std::string Put(const char* name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<std::string> Records(const std::string& path) {
    std::vector<std::string> out;
    FLDF* fd = FLOpenRead(path.c_str());
    while (const char* rec = FLReadRec(fd))
      out.emplace_back(rec);
    FLClose(fd);
    return out;
  }
  static std::string Error() {
    char msg[2048];
    const char* m = ErrMessage(false, false, msg, sizeof msg);
    return m ? m : "";
  }
  fs::path dir;
};
using V = std::vector<std::string>;
} // namespace

TEST_F(Files, EveryTerminatorGivesTheSameRecords) {
  const V abc{"a", "", "bb", "c"};
  EXPECT_EQ(Records(Put("crlf", "a\r\n\r\nbb\r\nc\r\n")), abc);
  EXPECT_EQ(Records(Put("lf", "a\n\nbb\nc\n")), abc);
  EXPECT_EQ(Records(Put("cr", "a\r\rbb\rc\r")), abc);
  EXPECT_EQ(Records(Put("mixed", "a\r\n\nbb\rc")), abc) << "last line without terminator";
  EXPECT_EQ(Records(Put("zero", std::string("ab\0cd\n", 6))), (V{"ab", "cd"}));
  EXPECT_EQ(Records(Put("empty", "")), V{});
  EXPECT_EQ(Records(Put("none", "no terminator at all")), V{"no terminator at all"});
  // Records across many cache fills.
  std::string big;
  V want;
  for (int i = 0; big.size() < 65504 * 3; ++i) {
    want.push_back(std::string(size_t(i % 97), char('a' + i % 26)));
    big += want.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
  }
  EXPECT_EQ(Records(Put("big", big)), want);
  EXPECT_FALSE(ErrSet) << Error();
}

TEST_F(Files, TerminatorsAtTheEdgeOfACacheFill) {
  // Each terminator with its first byte just before, at and just after the last byte of
  // the first fill; then a record across the next fill and a last one without terminator.
  // Tabs next to terminators are control bytes that end nothing.
  const std::string across(70000, 'b');
  for (const char* trm : {"\r\n", "\r", "\n"}) {
    for (size_t at = 65502; at <= 65504; ++at) {
      const std::string lead = std::string(at - 1, 'a') + "\t";
      const V got = Records(Put("edge", lead + trm + "next" + trm + across + "\r\nlast"));
      ASSERT_EQ(got.size(), 4u) << TrmPrintable(trm) << " at " << at << Error();
      EXPECT_TRUE(got[0] == lead) << TrmPrintable(trm) << " at " << at;
      EXPECT_EQ(got[1], "next") << TrmPrintable(trm) << " at " << at;
      EXPECT_TRUE(got[2] == across) << TrmPrintable(trm) << " at " << at;
      EXPECT_EQ(got[3], "last");
    }
  }
  EXPECT_FALSE(ErrSet) << Error();
}

TEST_F(Files, RecordAtTheLimitAndOnePast) {
  // Files above the largest record buffer, so that the limit is the fixed one.
  const std::string at(1048543, 'x'), past(1048544, 'y'), pad(1100000, 'p');
  const V got = Records(Put("at", at + "\nnext\n" + pad));
  ASSERT_EQ(got.size(), 2u) << Error();
  EXPECT_TRUE(got[0] == at) << "a record of the largest length comes whole";
  EXPECT_EQ(got[1], "next");
  EXPECT_NE(Error().find("\": rec overflow: max=1048543 cnt=1048543 line=2"), std::string::npos);

  FLDF* fd = FLOpenRead(Put("past", past + "\nnext\n" + pad).c_str());
  EXPECT_EQ(FLReadRec(fd), nullptr);
  EXPECT_EQ(Error(),
            "Read error on \"" + Path("past") + "\": rec overflow: max=1048543 cnt=1048543 line=0");
  EXPECT_TRUE(std::string(fd->rec_bf) == past.substr(0, 1048543)) << "cut, not lost";
  EXPECT_STREQ(FLReadRec(fd), "y") << "the byte that did not fit begins the next read";
  EXPECT_STREQ(FLReadRec(fd), "next");
  PosFL(fd, 1048544 + 6); // the start of the long line after "next"
  EXPECT_EQ(FLReadRec(fd), nullptr);
  EXPECT_NE(Error().find("line=4294967295"), std::string::npos);
  FLClose(fd);
}

TEST_F(Files, PositionsAndReverseReading) {
  FLDF* fd = FLOpenRead(Put("ab", "a\r\nb\r\n").c_str());
  EXPECT_STREQ(FLReadRec(fd), "a");
  EXPECT_STREQ(FLReadRec(fd), "b");
  EXPECT_EQ(fd->rec_no, 2u);
  EXPECT_EQ(FLPos(fd), 6u);
  EXPECT_STREQ(FLReadRecReverse(fd), "b");
  EXPECT_STREQ(FLReadRecReverse(fd), "a");
  EXPECT_EQ(FLReadRecReverse(fd), nullptr);
  EXPECT_EQ(FLPos(fd), 0u);
  EXPECT_EQ(fd->rec_no, 0u);
  EXPECT_STREQ(FLReadRec(fd), "a");
  EXPECT_EQ(FLReadByteReverse(fd), '\n');
  EXPECT_EQ(FLReadByte(fd), '\n');
  EXPECT_EQ(FLReadByte(fd), 'b');
  EXPECT_TRUE(PosFL(fd, 0));
  EXPECT_STREQ(FLReadRec(fd), "a");
  EXPECT_EQ(fd->rec_no, 1u);
  EXPECT_FALSE(FLWriteBf(fd, "x", 1));
  EXPECT_EQ(Error(), "Write error on \"" + Path("ab") + "\" (opened for reading)");
  EXPECT_EQ(Get(Path("ab")), "a\r\nb\r\n");
  fd = FLClose(fd);

  // Backwards through a file several caches long, empty lines included.
  std::string text;
  V lines;
  for (int i = 0; text.size() < 300000; ++i) {
    lines.push_back(i % 7 == 0 ? "" : std::string(size_t(i % 50 + 1), char('A' + i % 26)));
    text += lines.back() + (i % 2 ? "\r\n" : "\n");
  }
  fd = FLOpenRead(Put("long", text).c_str());
  U1 block[10];
  EXPECT_EQ(FLReadBf(fd, 10, block, sizeof block, true), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 10), text.substr(0, 10));
  EXPECT_TRUE(PosFL(fd, U4(text.size())));
  V back;
  while (const char* rec = FLReadRecReverse(fd))
    back.insert(back.begin(), rec);
  EXPECT_EQ(back, lines);
  EXPECT_EQ(FLReadBf(fd, 10, block, 5, false), 0u);
  EXPECT_NE(Error().find("Buffer overflow: srcfn="), std::string::npos);
  PosFL(fd, U4(text.size() - 3));
  EXPECT_EQ(FLReadBf(fd, 10, block, sizeof block, true), 3u);
  EXPECT_EQ(Error(), "Read underflow");
  EXPECT_FALSE(PosFL(fd, U4(text.size() + 1)));
  EXPECT_EQ(Error(),
            "fseek failure:" + std::to_string(text.size() + 1) + "/" + std::to_string(text.size()));
  FLClose(fd);
}

TEST_F(Files, WriteThenReadBackByteForByte) {
  const std::string path = Path("out.bin");
  std::string want;
  FLDF* fd = FLOpenWrite(path.c_str(), TRM_LF);
  for (int i = 0; i < 300; ++i) {
    FLWriteByte(fd, U1(i));
    want += char(i);
  }
  EXPECT_EQ(FLPos(fd), 300u) << "single bytes count towards the size";
  const std::string blob(200000, 'z');
  FLWriteBf(fd, blob.data(), U4(blob.size()));
  FLWriteBfMult(fd, "one", "two", nullptr);
  FLWriteSt(fd, "rec", "ord");
  want += blob + "onetworecord\n";
  EXPECT_EQ(FLPos(fd), U4(want.size()));
  // Back into bytes already written, and into bytes still pending: both overwrite.
  EXPECT_TRUE(PosFL(fd, 5));
  FLWriteBf(fd, "AB", 2);
  want.replace(5, 2, "AB");
  EXPECT_TRUE(PosFL(fd, U4(want.size() - 4)));
  FLWriteByte(fd, '#');
  want[want.size() - 4] = '#';
  fd = FLClose(fd);
  EXPECT_FALSE(ErrSet) << Error();
  EXPECT_EQ(Get(path), want);
  EXPECT_EQ(open_files_cnt, 0);
}

TEST_F(Files, RecordTerminatorsOfNewAndExistingFiles) {
  EXPECT_TRUE(FileWriteSt(Path("a.txt").c_str(), "x", "y"));
  EXPECT_TRUE(FileAppendSt(Path("a.txt").c_str(), "z"));
  EXPECT_EQ(Get(Path("a.txt")), "xy\r\nz\r\n");
  FileWriteSt(Path("run.SH").c_str(), "echo");
  EXPECT_EQ(Get(Path("run.SH")), "echo\n");
  FileWriteSt(Path("pic.png").c_str(), "data");
  EXPECT_EQ(Get(Path("pic.png")), "data");
  Put("unix.txt", "first\nsecond\r\n");
  FileAppendSt(Path("unix.txt").c_str(), "third");
  EXPECT_EQ(Get(Path("unix.txt")), "first\nsecond\r\nthird\n");
  Put("dos.log", "a\rb\r\n");
  EXPECT_EQ(FileTrm(Path("dos.log").c_str(), false), TRM_CRLF);
  EXPECT_EQ(FileTrm(Path("missing.txt").c_str(), false), nullptr);
  EXPECT_EQ(FileTrm(Path("missing.txt").c_str(), true), TRM_CRLF);

  EXPECT_EQ(BfTrm("a\nb", kAllU4), TRM_LF);
  EXPECT_EQ(BfTrm("a\r\nb", kAllU4), TRM_CRLF);
  EXPECT_EQ(BfTrm("a\rb", kAllU4), nullptr);
  EXPECT_EQ(BfTrm("ab\r\n", 4), TRM_CRLF);
  EXPECT_EQ(BfTrm("\n", 1), TRM_LF);
  EXPECT_EQ(BfTrm("a\r\nb", 2), nullptr) << "the LF lies outside the count";
  EXPECT_EQ(BfTrm("x", 0), nullptr);
  EXPECT_FALSE(ErrSet) << Error();
}

TEST_F(Files, TableOfOneHundredHandles) {
  const std::string path = Put("t.txt", "t\n");
  std::vector<FLDF*> fds;
  for (U4 i = 0; i < kFLDFSlots; ++i)
    fds.push_back(FLOpenRead(path.c_str()));
  EXPECT_EQ(fds.back(), &fldf_tbl[kFLDFSlots - 1]);
  EXPECT_EQ(open_files_cnt, 100);
  EXPECT_EQ(FLOpenWrite(path.c_str()), nullptr);
  EXPECT_EQ(Error(), "FLOpen:FLDF slot overflow");
  EXPECT_EQ(Get(path), "t\n") << "a refused write open leaves the file alone";
  EXPECT_EQ(open_files_cnt, 100);
  fds[37] = FLClose(fds[37]);
  EXPECT_EQ(FLOpenRead(path.c_str()), &fldf_tbl[37]);
  for (FLDF* fd : fds)
    FLClose(fd);
  FLClose(&fldf_tbl[37]);
  EXPECT_EQ(open_files_cnt, 0);
  EXPECT_GE(open_files_cnt_hi, 100);

  const std::string long_name = Path(std::string(301, 'n').c_str());
  EXPECT_EQ(FLOpenRead(long_name.c_str()), nullptr);
  EXPECT_NE(Error().find("FLOpen:fn too long"), std::string::npos);
  for (const FLDF& slot : fldf_tbl)
    EXPECT_EQ(slot.name[0], '\0');
}

TEST_F(Files, OpenFailuresAndTheirMessages) {
  const std::string missing = Path("missing.txt");
  FLDF* fd = FLOpenRead(missing.c_str());
  EXPECT_EQ(fd, nullptr);
  EXPECT_EQ(Error(), "Open error on \"" + missing + "\" (" + std::strerror(ENOENT) + ")");
  EXPECT_EQ(FLOpen(missing.c_str(), 4, nullptr), nullptr);
  EXPECT_EQ(Error(), "Open error on \"" + missing + "\" (invalid IOC)");
  FLOpenRead(nullptr);
  EXPECT_EQ(Error(), "FLOpen:fn=NULL");
  FLOpenRead("");
  EXPECT_EQ(Error(), "FLOpen:fn is empty");
  // After a failed open the whole read loop falls through quietly.
  FLOpenRead(missing.c_str());
  EXPECT_EQ(FLReadRec(fd), nullptr);
  EXPECT_EQ(FLClose(fd), nullptr);
  EXPECT_NE(Error().find("Open error"), std::string::npos);
  EXPECT_EQ(FLReadRec(nullptr), nullptr);
  EXPECT_EQ(Error(), "FLReadRec:NULL rfp");

  // A folder cannot be read as a file: refused at the open or at the first read.
  fd = FLOpenRead(dir.string().c_str());
  if (fd) {
    EXPECT_EQ(FLReadRec(fd), nullptr);
    EXPECT_EQ(Error(), "fread failure on " + dir.string());
    FLClose(fd);
  } else {
    EXPECT_EQ(Error(), "Open error on \"" + dir.string() + "\" (" + std::strerror(EACCES) + ")");
  }
#ifndef _WIN32
  if (geteuid() != 0) {
    const std::string locked = Put("locked.txt", "secret\n");
    chmod(locked.c_str(), 0);
    EXPECT_EQ(FLOpenRead(locked.c_str()), nullptr);
    EXPECT_EQ(Error(), "Open error on \"" + locked + "\" (" + std::strerror(EACCES) + ")");
  }
#endif
  MemFailAfter(1);
  EXPECT_EQ(FLOpenRead(Put("m.txt", "m\n").c_str()), nullptr);
  MemFailAfter(0);
  EXPECT_EQ(Error().rfind("Open error on \"" + Path("m.txt") + "\"(", 0), 0u) << Error();
  EXPECT_EQ(open_files_cnt, 0);
}

TEST_F(Files, CloseCompletesWhileAnErrorIsPending) {
  const std::string path = Path("pending.txt");
  FLDF* fd = FLOpenWrite(path.c_str(), TRM_CRLF);
  FLWriteSt(fd, "kept");
  SeMErrMult("earlier failure", nullptr);
  EXPECT_EQ(FLClose(fd), nullptr);
  EXPECT_EQ(Error(), "earlier failure");
  EXPECT_EQ(Get(path), "kept\r\n");
  EXPECT_EQ(fldf_tbl[0].name[0], '\0');
  EXPECT_EQ(open_files_cnt, 0);
}
