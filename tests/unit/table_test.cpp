// The values of a table line and what they stand for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table/fields.hpp"
#include "table/table.hpp"

namespace kinstrom {
namespace {

std::vector<std::string> split(Separator s, std::string_view line) {
    LineFields f(s);
    EXPECT_TRUE(f.split(line)) << line;
    std::vector<std::string> out;
    for (const Field& v : f.fields()) out.emplace_back(v.text);
    return out;
}

TEST(TableFields, SeparatorsQuotesAndBlanks) {
    using V = std::vector<std::string>;
    EXPECT_EQ(find_separator(R"("a;b","c",d)"), Separator::comma);
    EXPECT_EQ(find_separator("1,5;2"), Separator::semicolon);
    EXPECT_EQ(find_separator("a\tb c"), Separator::blanks);
    EXPECT_EQ(split(Separator::comma, R"( "G01_I0001" ,NA,,"say ""hi""", x )"),
              (V{"G01_I0001", "NA", "", "say \"hi\"", "x"}));
    EXPECT_EQ(split(Separator::semicolon, "a;0,25;"), (V{"a", "0,25", ""}));
    EXPECT_EQ(split(Separator::blanks, "\t\"a b\"  c\t\"\" "), (V{"a b", "c", ""}));
    LineFields bad(Separator::comma);
    EXPECT_FALSE(bad.split(R"(a,"open)"));
    EXPECT_EQ(bad.problem_column, 2U);
    EXPECT_FALSE(bad.split(R"("a"b,c)"));
    EXPECT_FALSE(LineFields(Separator::blanks).split(R"("a"b c)"));
}

TEST(TableFields, ValuesAndTheirKinds) {
    EXPECT_TRUE(is_missing({"NA", 0, false}));
    EXPECT_FALSE(is_missing({"NA", 0, true}));  // a quoted NA is a text
    EXPECT_TRUE(is_missing({"", 0, true}));
    EXPECT_TRUE(is_missing({".", 0, false}) && is_missing({"*", 0, false}));
    int64_t v = 1;
    EXPECT_TRUE(integer_value("-01", v) && v == -1);
    EXPECT_TRUE(integer_value("-9223372036854775808", v) && v == INT64_MIN);
    EXPECT_FALSE(integer_value("9223372036854775808", v) || integer_value("1e3", v) ||
                 integer_value("-", v) || integer_value("0x1", v));
    EXPECT_TRUE(is_number("1e-3") && is_number(".5") && !is_number("inf") && !is_number("ID"));
    double r = 0;
    EXPECT_TRUE(real_value("0,25", true, r) && r == 0.25);
    EXPECT_FALSE(real_value("0,25", false, r));
    int32_t s = 0;
    EXPECT_TRUE(sort_value("2021-03-04", s) && s == 20210304);
    EXPECT_TRUE(sort_value("19991231", s) && s == 19991231);
    EXPECT_FALSE(sort_value("2021/03/04", s) || sort_value("20x1-03-04", s) ||
                 sort_value("3000000000", s));
    EXPECT_TRUE(same_name("Sire", "sIRE") && !same_name("Sire", "Sires"));
}

TEST(TableLines, LineEndsAndAByteOrderMark) {
    Lines lines("\xef\xbb\xbf\"ID\"\r\n\n  \nlast");
    std::vector<std::string> seen;
    while (lines.next()) seen.push_back(std::string(lines.line) + (lines.blank() ? "|blank" : ""));
    EXPECT_EQ(seen, (std::vector<std::string>{"\"ID\"", "|blank", "  |blank", "last"}));
    EXPECT_EQ(lines.number(), 4);
}

TEST(TableColumns, ListOfNamesOrPositions) {
    std::vector<std::string> c;
    std::string error;
    EXPECT_TRUE(parse_columns("Ind, Sire,Dam,Born", c, error));
    EXPECT_EQ(c, (std::vector<std::string>{"Ind", "Sire", "Dam", "Born"}));
    EXPECT_TRUE(parse_columns("1,3,2", c, error));
    for (const char* bad : {"1,2", "1,2,3,4,5", "1,,3", "0,1,2", "id,ID,dam"})
        EXPECT_FALSE(parse_columns(bad, c, error)) << bad;
}

}  // namespace
}  // namespace kinstrom
