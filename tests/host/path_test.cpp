// The paths of get, put and call requests: what they read as, and why a
// path that does not read is refused.

#include "host/path.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/session.hpp"
#include "support/errors.hpp"

namespace vintrel::host {
namespace {

using automation::VarType;

std::vector<Segment> parse(const std::string& text) { return PathParser(text).parse(); }

// The description a refused path comes with, or "" when it reads.
std::string refusal(const std::string& text) {
  try {
    parse(text);
  } catch (const automation::AutomationError& e) {
    EXPECT_EQ(e.number(), protocol_error::bad_request) << text;
    EXPECT_EQ(e.source(), "Vintrel.Host") << text;
    return e.description();
  }
  return "";
}

TEST(HostPath, MemberNamesAndIndexesReadAsScriptWritesThem) {
  const auto segments = parse("DownloadFiles(2).remoteServerLocs(1).PortNum");
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].name, "DownloadFiles");
  ASSERT_TRUE(segments[0].indexed);
  ASSERT_EQ(segments[0].index.size(), 1u);
  EXPECT_EQ(segments[0].index[0].i4(), 2);
  EXPECT_EQ(segments[1].name, "remoteServerLocs");
  EXPECT_EQ(segments[1].index.at(0).i4(), 1);
  EXPECT_EQ(segments[2].name, "PortNum");
  EXPECT_FALSE(segments[2].indexed);
  EXPECT_TRUE(segments[2].index.empty());
}

TEST(HostPath, ArgumentsAreWholeNumbersOrQuotedStringsBetweenBlanks) {
  const auto segments = parse(" Item ( \"a b.c(\" , -3,007 ) . _x1 ");
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].name, "Item");
  ASSERT_EQ(segments[0].index.size(), 3u);
  EXPECT_EQ(segments[0].index[0].type(), VarType::Bstr);
  EXPECT_EQ(segments[0].index[0].bstr(), "a b.c(");
  EXPECT_EQ(segments[0].index[1].type(), VarType::I4);
  EXPECT_EQ(segments[0].index[1].i4(), -3);
  EXPECT_EQ(segments[0].index[2].i4(), 7);
  EXPECT_EQ(segments[1].name, "_x1");
}

TEST(HostPath, EmptyParenthesesMarkAnIndexedSegmentWithoutArguments) {
  const auto segments = parse("Item()");
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_TRUE(segments[0].indexed);
  EXPECT_TRUE(segments[0].index.empty());
}

TEST(HostPath, PathsThatDoNotReadAreRefusedSayingWhy) {
  EXPECT_EQ(refusal(""), "bad path \"\": a member name is missing");
  EXPECT_EQ(refusal("1st"), "bad path \"1st\": a member name is missing");
  EXPECT_EQ(refusal("a..b"), "bad path \"a..b\": a member name is missing");
  EXPECT_EQ(refusal("a."), "bad path \"a.\": a member name is missing");
  EXPECT_EQ(refusal("DownloadFiles(1"), "bad path \"DownloadFiles(1\": ')' is missing");
  EXPECT_EQ(refusal("a(\"open"), "bad path \"a(\"open\": a string is not closed");
  EXPECT_EQ(refusal("a(x)"), "bad path \"a(x)\": an index must be a whole number or a quoted string");
  EXPECT_EQ(refusal("a(-)"), "bad path \"a(-)\": an index must be a whole number or a quoted string");
  EXPECT_EQ(refusal("a(1,)"), "bad path \"a(1,)\": an index must be a whole number or a quoted string");
  EXPECT_EQ(refusal("a b"), "bad path \"a b\": unexpected 'b'");
  EXPECT_EQ(refusal("a(1)x"), "bad path \"a(1)x\": unexpected 'x'");
}

TEST(HostPath, IndexesBeyondThirtyTwoBitsOverflowInsteadOfWrapping) {
  EXPECT_EQ(parse("a(2147483647)")[0].index.at(0).i4(), 2147483647);
  EXPECT_EQ(parse("a(-2147483648)")[0].index.at(0).i4(), -2147483647 - 1);
  EXPECT_EQ(testing::error_of([] { parse("a(2147483648)"); }), automation::err::overflow);
  EXPECT_EQ(testing::error_of([] { parse("a(3000000000)"); }), automation::err::overflow);
  EXPECT_EQ(testing::error_of([] { parse("a(-3000000000)"); }), automation::err::overflow);
  EXPECT_EQ(testing::error_of([] { parse("a(99999999999999999999)"); }), automation::err::overflow);
}

}  // namespace
}  // namespace vintrel::host
