// The small pure rules: splitting, query escaping, byte sizes at their unit
// boundaries, what the start routine makes of a configuration text, and the
// UTF-8 locale the program starts in.
#include "app/Configuration.h"
#include "app/util/FormatByteSize.h"
#include "app/util/ShellUtil.h"
#include "app/util/StringTokenizer.h"
#include "framework/Utf8Locale.h"
#include "tests/support/QStringPrinter.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(Rules, Tokenizer)
{
    struct Case { std::string text, delimiter; std::vector<std::string> tokens; };
    const Case cases[] = {
        {"", "|", {}},
        {"|", "|", {""}},
        {"|a||b|", "|", {"", "a", "", "b"}},  // empty fields kept, one trailing one dropped
        {"a||", "|", {"a", ""}},
        {"http://h/p?a=1?b=2", "?", {"http://h/p", "a=1", "b=2"}},
        {"a<b", "<>", {"a<b"}},
        {"xxx", "xx", {"", "x"}},
    };
    for (const Case& c : cases) {
        const StringTokenizer t(c.text, c.delimiter);
        std::vector<std::string> tokens;
        for (int i = 0; i < t.GetCount(); ++i)
            tokens.push_back(t.GetToken(static_cast<unsigned>(i)));
        EXPECT_EQ(tokens, c.tokens) << c.text;
    }
}

TEST(Rules, QueryEscaping)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"http://h/p a?x y&z#t", u"http://h/p a?x%20y%26z%23t"},
        {u"http://h/?a=1;b:2@c$d,e!f*g'h(i)j~k-l.m_n+o%20", u"http://h/?a=1;b:2@c$d,e!f*g'h(i)j~k-l.m_n+o%20"},
        {u"http://h/?q=\u00e9\uD55C", u"http://h/?q=%C3%A9%ED%95%9C"},
        {u"http://h/p?a b?c d", u"http://h/p?a%20b"},
        {u"http://h/?" + std::u16string(700, u' '), u""},  // does not fit: refused, unchanged
    };
    for (const auto& [in, out] : cases) {
        std::array<char16_t, kShellTextCapacity> buffer{};
        std::copy(in.begin(), in.end(), buffer.begin());
        EXPECT_EQ(EscapeUrlQuery(buffer.data()), !out.empty());
        EXPECT_EQ(QString::fromUtf16(buffer.data()), QString::fromStdU16String(out.empty() ? in : out));
    }
}

// The unit comes from the exact count, the value from the count rounded to
// a float: 2^30 - 1 bytes are still "MB", shown as 1024.
TEST(Rules, ByteSizeUnitBoundaries)
{
    const std::pair<std::int64_t, QString> cases[] = {
        {1023, "1023.00 Bytes"},          {1024, "1.00 KB"},
        {(1 << 20) - 1, "1024.00 KB"},    {1 << 20, "1.00 MB"},
        {(1 << 30) - 1, "1024.00 MB"},    {1 << 30, "1.00 GB"},
        {5ll << 30, "5.00 GB"},           {9ll << 29, "4.50 GB"},
        {-2048, "-2048.00 Bytes"},
    };
    for (const auto& [bytes, shown] : cases) {
        float value = -1;
        QString unit;
        FormatByteSize(bytes, value, unit);
        EXPECT_EQ(QString::number(value, 'f', 2) + ' ' + unit, shown) << bytes;
    }
}

TEST(Rules, ConfigurationDecision)
{
    using A = ConfigurationDecision::Action;
    struct Case {
        std::string text;
        A action;
        QString open{}, notice{}, torrent{};  // open: the homepage or page to open
        std::string webSeed{};
    };
    const Case cases[] = {
        {"7", A::TooFewFields},
        {"", A::TooFewFields},
        {"7|http://h/|Hi|https://h/p|http://h/t.torrent|http://h/seed/", A::Proceed, "https://h/p", "Hi",
         "http://h/t.torrent", "http://h/seed/"},
        {"7||||t", A::Proceed, "", "", "t"},
        {"7|h|n|file:///etc/passwd|t|", A::Proceed, "", "n", "t"},
        {std::string("7|h|n|p|t\0|w", 12), A::Proceed, "", "n", "t"},
        {"70|http://h/", A::Update, "http://h/"},
        {"7 |http://h/", A::Update, "http://h/"},
        {"|http://h/", A::Update, "http://h/"},
        {"-1|HTTP://h/", A::Retire, "HTTP://h/"},
        {"-1|/usr/bin/xterm", A::Retire},
    };
    for (const Case& c : cases) {
        const ConfigurationDecision d = DecideConfiguration(c.text);
        EXPECT_EQ(d.action, c.action) << c.text;
        EXPECT_EQ(c.action == A::Proceed ? d.pageToOpen : d.homepageToOpen, c.open) << c.text;
        EXPECT_EQ(d.notice, c.notice) << c.text;
        EXPECT_EQ(d.torrentAddress, c.torrent) << c.text;
        EXPECT_EQ(d.webSeed, c.webSeed) << c.text;
    }
}

// LANG names UTF-8 whatever the user's says, the language kept: libtorrent
// and the programs we start read names as UTF-8 only then.
TEST(Rules, LangMadeUtf8)
{
    const char* const cases[][2] = {{nullptr, "C.UTF-8"},         {"C", "C.UTF-8"},
                                    {"POSIX", "C.UTF-8"},          {"C.utf8", "C.UTF-8"},
                                    {"en_US.utf8@euro", "en_US.UTF-8"}, {"ko_KR.UTF-8", "ko_KR.UTF-8"}};
    const QByteArray saved = qgetenv("LANG");
    for (const auto& c : cases) {
        c[0] != nullptr ? ::setenv("LANG", c[0], 1) : ::unsetenv("LANG");
        AfxUseUtf8Locale();
        EXPECT_STREQ(std::getenv("LANG"), c[1]) << (c[0] != nullptr ? c[0] : "unset");
    }
    qputenv("LANG", saved);
}

} // namespace
