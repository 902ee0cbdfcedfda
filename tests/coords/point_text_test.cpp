#include "coords/point_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrova {
namespace {

TEST(PointText, KeepsEveryByteAcrossTheInlineAndHeapBoundary) {
  // 0x81 0x5C is a double-byte character whose trail byte is a backslash, and 0x00 may
  // sit in the middle of bytes: neither may end or change the text.
  const std::string tricky("\x81\x5C\x00\x82\xA0", 5);
  for (size_t n : {0u, 1u, 6u, 7u, 8u, 9u, 255u}) {
    std::string bytes;
    while (bytes.size() < n)
      bytes += tricky;
    bytes.resize(n);
    PointText t(bytes);
    EXPECT_EQ(t.size(), n);
    EXPECT_EQ(t.str(), bytes);
    EXPECT_EQ(std::string_view(t), bytes);
    EXPECT_EQ(std::string(t.begin(), t.end()), bytes);
    EXPECT_EQ(t.empty(), n == 0);
  }
}

TEST(PointText, CopiesMovesAndAssignmentsOwnTheirBytes) {
  const std::string longText(40, 'L');
  std::vector<PointText> texts = {"P1", longText, std::string(7, 'x'), ""};
  std::vector<PointText> copies = texts;
  texts[1] = "short now";  // heap to inline; the copy must keep its own heap bytes
  texts[0] = longText + "!";
  EXPECT_EQ(copies[0], "P1");
  EXPECT_EQ(copies[1], longText);
  EXPECT_EQ(texts[1], "short now");
  EXPECT_EQ(texts[0].size(), 41u);

  PointText moved = std::move(copies[1]);
  EXPECT_EQ(moved, longText);
  EXPECT_TRUE(copies[1].empty());  // NOLINT: a moved-from text is empty and usable
  copies[1] = moved;
  EXPECT_EQ(copies[1], moved);

  // Assigning a text to itself, or a piece of itself, keeps (or narrows to) its bytes.
  PointText& alias = moved;
  moved = alias;
  EXPECT_EQ(moved, longText);
  moved = std::string_view(moved).substr(30);
  EXPECT_EQ(moved, std::string(10, 'L'));
  PointText inlineText("abcdefg");
  inlineText = std::string_view(inlineText).substr(2, 3);
  EXPECT_EQ(inlineText, "cde");
  inlineText = std::string_view(inlineText).substr(1);
  EXPECT_EQ(inlineText, "de");

  // An assignment that fails keeps the old text, whole and owned: a text too long to
  // hold is refused before a byte of it is read.
  const char few[] = "x";
  const std::string_view tooLong(few, size_t{1} << 33);
  for (PointText& t : texts) {
    const std::string before = t.str();
    EXPECT_THROW(t = tooLong, std::length_error);
    EXPECT_EQ(t, before);
  }

  // Vectors move texts when they grow; nothing may be lost or freed twice.
  std::vector<PointText> grown;
  for (int i = 0; i < 100; ++i)
    grown.emplace_back(std::string(static_cast<size_t>(i % 30), static_cast<char>('a' + i % 26)));
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(grown[i].size(), static_cast<size_t>(i % 30));
}

TEST(PointText, ComparesAndJoinsLikeItsBytes) {
  const PointText a("P10");
  EXPECT_TRUE(a == "P10");
  EXPECT_TRUE(a == std::string("P10"));
  EXPECT_TRUE(std::string("P10") == a);
  EXPECT_FALSE(a == "P1");
  EXPECT_TRUE(a < PointText("P2"));
  EXPECT_TRUE(PointText("\x82\xA0") > PointText("z"));  // bytes compare unsigned
  EXPECT_EQ("name " + a + "!", "name P10!");
  std::string out = "x";
  out += a;
  EXPECT_EQ(out, "xP10");
}

}  // namespace
}  // namespace kestrova
