#include "tests/strings/helpers.h"
#include "text/xst.h"

#include <string>
#include <utility>

namespace {

using StringObjects = StringsTest;

XSt Joined_OBJ(const char* a, const char* b) {
  return XSt(a, b, nullptr);
}

TEST_F(StringObjects, InlineOrTransitory) {
  const std::string s255(255, 'x');
  XSt in;
  EXPECT_EQ(in.st, nullptr);
  in.XStMult(s255.c_str(), nullptr);
  EXPECT_EQ(in.st, in.bf);
  EXPECT_EQ(std::string(in.st), s255);

  const U8 blocks = pgm_alloc_mem_cnt;
  {
    XSt big(s255.c_str(), "y", nullptr);
    ASSERT_NE(big.st, nullptr);
    EXPECT_NE(big.st, big.bf);
    EXPECT_EQ(PtMDP(big.st, true)->alloc_id, TRANSITORY);
    EXPECT_EQ(pgm_alloc_mem_cnt, blocks + 1);
    // Rebuilding from its own text, then shrinking back inline.
    big.XStMult("<", big.st, ">", nullptr);
    EXPECT_EQ(std::string(big.st), "<" + s255 + "y>");
    big.XStMult("a", big.st + 200, nullptr);
    EXPECT_EQ(big.st, big.bf);
    EXPECT_EQ(std::string(big.st), "a" + std::string(56, 'x') + "y>");
    EXPECT_EQ(pgm_alloc_mem_cnt, blocks);
  }
  XSt none(nullptr, nullptr);
  EXPECT_EQ(none.st, nullptr);
  EXPECT_STREQ(none.St(), "");

  XStPart part("hello world", 6, 0xFFFFFFFFu);
  EXPECT_STREQ(part.st, "world");
  EXPECT_EQ(part.st, part.bf);
  XStPart bad("abc", 2, 1);
  EXPECT_EQ(bad.st, nullptr);
  const std::string s300(300, 'p');
  XStPart long_part(s300.c_str(), 10, 0xFFFFFFFFu);
  EXPECT_EQ(std::string(long_part.st), std::string(290, 'p'));
  EXPECT_NE(long_part.st, long_part.bf);
}

TEST_F(StringObjects, CopyAndMoveOwnTheirText) {
  const std::string s300(300, 'q');
  XSt small = Joined_OBJ("ab", "cd");
  EXPECT_EQ(small.st, small.bf);
  EXPECT_STREQ(small.st, "abcd");

  const U8 blocks = pgm_alloc_mem_cnt;
  XSt big = Joined_OBJ(s300.c_str(), "!");
  EXPECT_EQ(pgm_alloc_mem_cnt, blocks + 1); // moved out, not copied

  XSt small_copy(small);
  EXPECT_EQ(small_copy.st, small_copy.bf);
  XSt big_copy(big);
  EXPECT_NE(big_copy.st, big.st);
  EXPECT_EQ(std::string(big_copy.st), s300 + "!");
  EXPECT_EQ(pgm_alloc_mem_cnt, blocks + 2);

  XSt moved(std::move(small));
  EXPECT_EQ(moved.st, moved.bf);
  EXPECT_STREQ(moved.st, "abcd");
  moved = std::move(big);
  EXPECT_EQ(big.st, nullptr);
  EXPECT_EQ(std::string(moved.st), s300 + "!");
  big_copy = moved;
  big_copy = big_copy;
  EXPECT_EQ(std::string(big_copy.St()), s300 + "!");
  EXPECT_EQ(pgm_alloc_mem_cnt, blocks + 2);

  XStPart part(s300.c_str(), 0, 299);
  XStPart part_moved(std::move(part));
  XStPart part_copy(part_moved);
  EXPECT_EQ(std::string(part_copy.st), std::string(299, 'q'));
  EXPECT_EQ(part.st, nullptr);
  // The fixture checks that every text was released exactly once.
}

} // namespace
