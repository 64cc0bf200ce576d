// The text helpers that split and rewrite texts in place.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"

namespace {

TEST(SplitFieldTest, TakesEachFieldInPlaceAndThenReportsNone)
{
    struct Case {
        const char* text;
        char separator;
        std::vector<std::string> fields;
    } cases[] = {
        {"a,,b", ',', {"a", "", "b"}},
        {"abc", ',', {"abc"}},
        {"", ',', {}},
        {",", ',', {""}},
        {"a,", ',', {"a"}},
        {",a", ',', {"", "a"}},
        {"a;b,c;", ';', {"a", "b,c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[16];
        std::strcpy(buffer, c.text);
        char* cursor = buffer;
        std::vector<std::string> fields;
        for (char* field = SplitField(&cursor, c.separator); field != nullptr;
             field = SplitField(&cursor, c.separator)) {
            ASSERT_LT(fields.size(), 8u);
            EXPECT_GE(field, buffer); // in place, not a copy
            EXPECT_LT(field, buffer + sizeof buffer);
            fields.push_back(field);
        }
        EXPECT_EQ(c.fields, fields);
        EXPECT_EQ(nullptr, SplitField(&cursor, c.separator)); // and again
        EXPECT_EQ(buffer + std::strlen(c.text), cursor);
    }
}

TEST(SplitFieldTest, SeparatorBecomesATerminatorAndTheCursorMovesPastIt)
{
    char buffer[] = "ab,cd";
    char* cursor = buffer;
    EXPECT_EQ(buffer, SplitField(&cursor, ','));
    EXPECT_EQ('\0', buffer[2]);
    EXPECT_EQ(buffer + 3, cursor);
    EXPECT_EQ(buffer + 3, SplitField(&cursor, ','));
    EXPECT_EQ(buffer + 5, cursor);
}

TEST(ReplaceCharTest, ReplacesEveryEqualByteUpToTheTerminator)
{
    char text[] = "\na\r\n\xF5\n\0\n";
    ReplaceChar(text, '\n', static_cast<char>(0xF5));
    EXPECT_EQ(0, std::memcmp("\xF5"
                             "a\r\xF5\xF5\xF5\0\n",
                             text, sizeof text));
    ReplaceChar(text, static_cast<char>(0xF5), ' ');
    EXPECT_STREQ(" a\r   ", text);
    char empty[] = "";
    ReplaceChar(empty, 'x', 'y');
    EXPECT_STREQ("", empty);
}

} // namespace
