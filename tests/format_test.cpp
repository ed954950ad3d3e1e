// Expected strings are worked out by hand from the edit-descriptor rules, never taken from the formatter.
#include "text/format.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "text/stop.h"

namespace tubefit {
namespace {

struct FCase {
  double value;
  int w, d;
  const char* expected;
};

TEST(RenderF, TableOfEdges) {
  const FCase cases[] = {
      {12.34, 5, 1, " 12.3"},    {1234.5, 5, 1, "*****"},   {25.0, 4, 0, " 25."},
      {0.0, 5, 1, "  0.0"},      {-1.25, 6, 2, " -1.25"},   {-12.5, 5, 1, "-12.5"},
      {-123.5, 5, 1, "*****"},   {999.96, 5, 1, "*****"},   {999.94, 5, 1, "999.9"},
      {0.125, 5, 2, " 0.13"},    {-0.125, 5, 2, "-0.13"},   {2.5, 3, 0, " 3."},
      {0.5, 2, 0, "1."},         {0.4, 2, 0, "0."},         {0.123, 4, 3, ".123"},
      {0.123, 5, 3, "0.123"},    {3.0, 5, 3, "3.000"},      {9.9996, 5, 3, "*****"},
      {100.0, 6, 1, " 100.0"},   {-0.001, 5, 1, " -0.0"},   {1e10, 5, 1, "*****"},
      {250.5, 5, 0, " 251."},    {247.5, 5, 0, " 248."},    {1.0e-9, 8, 2, "    0.00"},
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(RenderF(c.value, c.w, c.d), c.expected) << c.value << " F" << c.w << "." << c.d;
  }
}

TEST(RenderF, RoundsTheExactBinaryValue) {
  // 0.15f is 0.1500000059604644775390625 exactly, so it rounds up; 0.35 as a double is
  // 0.34999999999999997779553950749686919152736663818359375, so it rounds down.
  EXPECT_EQ(RenderF(0.15f, 4, 1), " 0.2");
  EXPECT_EQ(RenderF(0.35, 4, 1), " 0.3");
  EXPECT_EQ(RenderF(std::numeric_limits<double>::quiet_NaN(), 5, 1), "*****");
}

struct ECase {
  double value;
  int w, d;
  const char* expected;
};

TEST(RenderE, TableOfEdges) {
  const ECase cases[] = {
      {123.4, 7, 2, ".12E+03"},   {5.0, 6, 1, ".5E+01"},       {0.000123, 7, 2, ".12E-03"},
      {-1.0, 7, 2, "*******"},    {-1.0, 8, 2, "-.10E+01"},    {0.0, 7, 2, ".00E+00"},
      {0.999, 7, 2, ".10E+01"},   {0.9951, 7, 2, ".10E+01"},    {0.994, 7, 2, ".99E+00"},
      {7.5e-4, 7, 2, ".75E-03"},  {1.0e-7, 7, 2, ".10E-06"},   {123.4, 10, 2, "   .12E+03"},
      {0.25, 8, 2, " .25E+00"},   {-0.25, 8, 2, "-.25E+00"},   {1234.5, 8, 3, ".123E+04"},
      {1.0e-30, 7, 2, ".10E-29"}, {1.0e120, 8, 2, " .10+121"},
  };
  for (const ECase& c : cases) {
    EXPECT_EQ(RenderE(c.value, c.w, c.d), c.expected) << c.value << " E" << c.w << "." << c.d;
  }
}

TEST(RenderI, WidthsAndOverflow) {
  EXPECT_EQ(RenderI(5, 3), "  5");
  EXPECT_EQ(RenderI(-5, 3), " -5");
  EXPECT_EQ(RenderI(1000, 3), "***");
  EXPECT_EQ(RenderI(-100, 3), "***");
  EXPECT_EQ(RenderI(17, 0), "17");
  EXPECT_EQ(RenderI(-3, 0), "-3");
  EXPECT_EQ(RenderI(0, 2), " 0");
}

TEST(RenderA, JustifiesAndCuts) {
  EXPECT_EQ(RenderA("\"Va\" ", 4), "\"Va\"");
  EXPECT_EQ(RenderA("ab", 4), "  ab");
  EXPECT_EQ(RenderA("abc  ", -1), "abc  ");
  EXPECT_EQ(RenderA("alpha_s             ", 6), "alpha_");
}

TEST(ListDirected, FloatsAtTheFixedAndEBoundaries) {
  EXPECT_EQ(ListFloat(150.0f), "     150.000000");
  EXPECT_EQ(ListFloat(123.456789f), "     123.456800");
  EXPECT_EQ(ListFloat(0.5f), "   5.000000E-01");
  EXPECT_EQ(ListFloat(0.001f), "   1.000000E-03");
  EXPECT_EQ(ListFloat(1.0f), "       1.000000");
  EXPECT_EQ(ListFloat(0.0f), "   0.000000E+00");
  EXPECT_EQ(ListFloat(-2.5f), "      -2.500000");
  EXPECT_EQ(ListFloat(9999999.0f), " 9999999.000000");
  EXPECT_EQ(ListFloat(10000000.0f), "   1.000000E+07");
  EXPECT_EQ(ListFloat(-10000000.0f), "  -1.000000E+07");
  EXPECT_EQ(ListFloat(-0.25f), "  -2.500000E-01");
  // 1.9999999f is 1.99999988079071044921875: seven significant digits carry it to 2.000000;
  // 99999.996f is 99999.9921875 and keeps 99999.99.
  EXPECT_EQ(ListFloat(1.9999999f), "       2.000000");
  EXPECT_EQ(ListFloat(99999.996f), "   99999.990000");
  EXPECT_EQ(ListFloat(0.99999994f), "   9.999999E-01");
  EXPECT_EQ(ListFloat(3.0e-38f), "   3.000000E-38");
}

TEST(ListDirected, IntegersAndDoubles) {
  EXPECT_EQ(ListInt(5), "          5");
  EXPECT_EQ(ListInt(-20), "        -20");
  EXPECT_EQ(ListDouble(3.0), "       3.000000000000000");
  EXPECT_EQ(ListDouble(0.5), "  5.000000000000000E-001");
  EXPECT_EQ(ListDouble(12345678.0), "  1.234567800000000E+007");
}

TEST(ListDirected, RecordsStartWithOneBlank) {
  EXPECT_EQ(ListDirected(), " ");
  EXPECT_EQ(ListDirected({"Tube type ", "Z", " not known!"}), " Tube type Z not known!");
  EXPECT_EQ(ListDirected({"Number of Vg values should at least be", int32_t{5}}),
            " Number of Vg values should at least be          5");
  EXPECT_EQ(ListDirected({"Vg offset equals", 0.0f}), " Vg offset equals   0.000000E+00");
}

TEST(Format, LiteralsSkipsAndIntegers) {
  EXPECT_EQ(FormatLine("(X,'Total number of datapoints in the fit equals:',I5,'.')", {int32_t{279}}),
            " Total number of datapoints in the fit equals:  279.");
  EXPECT_EQ(FormatLine("(' Elapsed time: ',F5.1,'s')", {3.0}), " Elapsed time:   3.0s");
  EXPECT_EQ(FormatLine("(10X,'a''b')"), "          a'b");
  EXPECT_EQ(FormatLine("(A6)", {"Iter:"}), " Iter:");
  EXPECT_EQ(FormatLine("(I3,A)", {int32_t{12}, ","}), " 12,");
  EXPECT_EQ(FormatLine("(\"double\",I2)", {int32_t{7}}), "double 7");
}

TEST(Format, RepeatedGroupEndsAfterTheLastItem) {
  const std::string line =
      FormatLine("(A4,100(' \"Vg=',F5.1,'\"'),:)", {"\"Va\" ", -2.0f, -4.0f, -6.0f});
  EXPECT_EQ(line, "\"Va\" \"Vg= -2.0\" \"Vg= -4.0\" \"Vg= -6.0\"");
}

TEST(Format, ColonEndsTheRecordWhenItemsRunOut) {
  EXPECT_EQ(FormatLine("(7X,100E10.2:)", {1.0f, 0.5f}), "          .10E+01   .50E+00");
  EXPECT_EQ(FormatLine("(A6,100F10.4:)", {"kVB   ", 1.0f, -0.5f}), "kVB       1.0000   -0.5000");
  EXPECT_EQ(FormatLine("(10X,100A10:)", {"alpha_s             ", "mu                  "}),
            "          alpha_s   mu        ");
}

TEST(Format, ItemsRunningOutWithoutColonStopAtTheNextDataDescriptor) {
  // The literal before F5.1 is written; the one after it is not reached.
  EXPECT_EQ(FormatLine("('a=',I2,' b=',I2,' c')", {int32_t{1}}), "a= 1 b=");
}

TEST(Format, ReversionStartsANewRecordAtTheLastTopLevelGroup) {
  const std::vector<std::string> records = Format("(3F10.5)", {1.0f, 2.0f, 3.0f, 4.0f});
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "   1.00000   2.00000   3.00000");
  EXPECT_EQ(records[1], "   4.00000");
  const std::vector<std::string> grouped = Format("('h',2(I2))", {int32_t{1}, int32_t{2}, int32_t{3}});
  ASSERT_EQ(grouped.size(), 2u);
  EXPECT_EQ(grouped[0], "h 1 2");
  EXPECT_EQ(grouped[1], " 3");
}

TEST(Format, NoItemsGivesOneEmptyRecord) {
  const std::vector<std::string> records = Format("(100A8:)");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], "");
}

TEST(Format, RealFieldsThatNeverOverflowOrKeepEveryDigit) {
  // A value that fits keeps its field; one that overflows gets the shortest text of the w - 1 (F) or d (E)
  // digits a full field holds. 123456790 reads back as the float 123456792, 123456800 does not.
  const RealFields kNever = RealFields::kNeverFull;
  EXPECT_EQ(FormatLine("('be=',F6.3,1X,F6.3,1X,F6.3)", {5.25f, 525.0f, 525.123f}, kNever), "be= 5.250 525 525.12");
  EXPECT_EQ(FormatLine("(F6.1,1X,F6.0,1X,E7.2,1X,E6.1)", {8.2e23f, 1234567.0f, -0.00075f, -5.0f}, kNever),
            "8.2E+23 1234600 -0.00075 -5");
  EXPECT_EQ(FormatLine("(F5.1,1X,F5.1,1X,E7.2,1X,F5.1,1X,F5.1)", {0.1f, 100.35f, 1e-10f, 123456792.0f, 3.4028235e38f},
                       RealFields::kRoundTrip),
            "0.1 100.35 1E-10 123456790 3.4028235E+38");
}

TEST(Format, MalformedFormatsAndWrongItemsAreProgramFaults) {
  EXPECT_THROW(Format("(I3", {int32_t{1}}), std::logic_error);
  EXPECT_THROW(Format("(F5.1)", {int32_t{1}}), std::logic_error);
  EXPECT_THROW(Format("('x')", {int32_t{1}}), std::logic_error);
  EXPECT_THROW(Format("(Q3)", {int32_t{1}}), std::logic_error);
}

TEST(SharedWriters, TrimmedVersionAndDate) {
  std::ostringstream os;
  WriteTrimmed(os, "abc   ");
  WriteVersionLine(os, 3.0f);
  EXPECT_EQ(os.str(), "abc\n*      Tubefit V3.000\n");
  EXPECT_EQ(DateStampFor(2016, 1, 23), "23-Jan-2016");
  EXPECT_EQ(DateStampFor(2016, 3, 5), " 5-Mar-2016");
  EXPECT_EQ(DateStampFor(2026, 12, 8), " 8-Dec-2026");
  EXPECT_EQ(DateStamp().size(), 11u);
}

TEST(Stops, CarryTheirLinesAndFinalLine) {
  try {
    PlainStop({" first"});
    FAIL();
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
    ASSERT_EQ(stop.lines().size(), 1u);
    EXPECT_EQ(stop.FinalLine(), "Stop - Program terminated.");
  }
  try {
    StopWithText("Execution halts");
    FAIL();
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind(), Stop::Kind::kWithText);
    EXPECT_TRUE(stop.lines().empty());
    EXPECT_EQ(stop.FinalLine(), "Execution halts");
  }
}

}  // namespace
}  // namespace tubefit
