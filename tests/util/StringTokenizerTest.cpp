#include "app/util/StringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* name;
    std::string text;
    std::string delimiter;
    std::vector<std::string> tokens;
};

std::vector<std::string> TokensOf(const StringTokenizer& t)
{
    std::vector<std::string> out;
    for (int i = 0; i < t.GetCount(); ++i)
        out.push_back(t.GetToken(static_cast<unsigned>(i)));
    return out;
}

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, GivesTheExpectedTokens)
{
    const SplitCase& c = GetParam();
    StringTokenizer t(c.text, c.delimiter);
    EXPECT_EQ(t.GetCount(), static_cast<int>(c.tokens.size()));
    EXPECT_EQ(TokensOf(t), c.tokens);
    if (!c.delimiter.empty()) {
        for (const std::string& token : TokensOf(t))
            EXPECT_EQ(token.find(c.delimiter), std::string::npos) << token;
    }
}

const SplitCase kSplitCases[] = {
    {"EmptyText", "", "|", {}},
    {"NoDelimiter", "abc", "|", {"abc"}},
    {"DelimiterAlone", "|", "|", {""}},
    {"LeadingDelimiter", "|a|b", "|", {"", "a", "b"}},
    {"TwoInARow", "a||b", "|", {"a", "", "b"}},
    {"OneTrailingDelimiter", "a|b|", "|", {"a", "b"}},
    {"TwoTrailingDelimiters", "a|b||", "|", {"a", "b", ""}},
    {"OnlyDelimiters", "|||", "|", {"", "", ""}},
    {"ConfigurationLine", "7|http://h/|http://h/t.torrent|x|y|z", "|",
     {"7", "http://h/", "http://h/t.torrent", "x", "y", "z"}},
    {"TwoQuestionMarks", "http://h/p?a=1?b=2", "?", {"http://h/p", "a=1", "b=2"}},
    {"QuestionMarkAtEnd", "http://h/p?", "?", {"http://h/p"}},
    {"WholeDelimiterOnly", "a-b--c", "--", {"a-b", "c"}},
    {"FirstCharOfDelimiterDoesNotCut", "a<b", "<>", {"a<b"}},
    {"RunOfThreeSplitAtTwo", "xxx", "xx", {"", "x"}},
    {"LeftmostNonOverlapping", "aaaa", "aa", {"", ""}},
    {"BytesNotCharacters", std::string("\xc3\xa9|\0z", 5), "|", {"\xc3\xa9", std::string("\0z", 2)}},
    {"EmptyDelimiterWholeText", "a|b", "", {"a|b"}},
    {"EmptyDelimiterEmptyText", "", "", {}},
};

INSTANTIATE_TEST_SUITE_P(StringTokenizer, SplitTable, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringTokenizer, GetTokenOutOfRangeIsEmpty)
{
    StringTokenizer t("a|b", "|");
    for (unsigned index : {2u, 3u, 1000u, 0xFFFFFFFFu})
        EXPECT_EQ(t.GetToken(index), "") << index;
    StringTokenizer none("", "|");
    EXPECT_EQ(none.GetCount(), 0);
    EXPECT_EQ(none.GetToken(0), "");
}

TEST(StringTokenizer, GetTokenReturnsACopy)
{
    StringTokenizer t("one|two", "|");
    std::string copy = t.GetToken(0);
    copy[0] = 'X';
    copy += "more";
    EXPECT_EQ(t.GetToken(0), "one");
}

TEST(StringTokenizer, SplitAgainReplacesEverything)
{
    StringTokenizer t("a|b|c|d", "|");
    ASSERT_EQ(t.GetCount(), 4);
    t.Split("x?y", "?");
    EXPECT_EQ(TokensOf(t), (std::vector<std::string>{"x", "y"}));
    t.Split("", "?");
    EXPECT_EQ(t.GetCount(), 0);
}

} // namespace
