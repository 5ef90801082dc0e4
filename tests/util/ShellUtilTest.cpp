#include "app/util/ProcessLauncher.h"
#include "app/util/ShellUtil.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <array>
#include <string>
#include <vector>

namespace {

// ---- Version classes --------------------------------------------------------

struct VersionCase {
    unsigned major;
    unsigned minor;
    const char16_t* servicePack;
    int expected;
};

TEST(WindowsVersion, ClassifiesTheTable)
{
    const VersionCase cases[] = {
        {4, 0, u"", 0},
        {5, 0, u"Service Pack 4", 0},
        {5, 1, u"Service Pack 1", 0},
        {5, 1, u"", 0},
        {5, 1, nullptr, 0},
        {5, 1, u"Service Pack 2", 1},
        {5, 1, u"Service Pack 3", 1},
        {5, 1, u"service pack 1", 1}, // compared exactly, case included
        {5, 1, u"Service Pack 1 ", 1},
        {5, 2, u"", 0},
        {5, 2, u"Service Pack 2", 0},
        {5, 3, u"", 2},
        {6, 0, u"", 2},
        {6, 1, u"Service Pack 1", 2},
        {10, 0, u"", 2},
    };
    for (const VersionCase& c : cases)
        EXPECT_EQ(ClassifyWindowsVersion(c.major, c.minor, c.servicePack), c.expected)
            << c.major << "." << c.minor;
}

TEST(WindowsVersion, NoWindowsHereGivesClassZero)
{
    EXPECT_EQ(GetWindowsVersionClass(), 0);
}

// ---- Query escaping ---------------------------------------------------------

using ShellText = std::array<char16_t, kShellTextCapacity>;

ShellText Text(const std::u16string& s)
{
    ShellText buffer;
    buffer.fill(u'#');
    std::copy(s.begin(), s.end(), buffer.begin());
    buffer[s.size()] = u'\0';
    return buffer;
}

std::u16string Read(const ShellText& buffer)
{
    return std::u16string(buffer.data());
}

struct EscapeCase {
    const char* name;
    std::u16string in;
    std::u16string out;
};

TEST(EscapeUrlQuery, EscapesOnlyTheQuery)
{
    const EscapeCase cases[] = {
        {"no query", u"http://h/p a/x.html", u"http://h/p a/x.html"},
        {"folder path", u"/home/user/My Downloads", u"/home/user/My Downloads"},
        {"question mark at end", u"http://h/p?", u"http://h/p?"},
        {"empty", u"", u""},
        {"blanks", u"http://h/p a?x y", u"http://h/p a?x%20y"},
        {"kept characters", u"http://h/?a=1;b:2@c$d,e!f*g'h(i)j~k-l.m_n+o%20",
         u"http://h/?a=1;b:2@c$d,e!f*g'h(i)j~k-l.m_n+o%20"},
        {"ampersand and hash", u"http://h/?a=1&b=2#top", u"http://h/?a=1%26b=2%23top"},
        {"escaped punctuation", u"http://h/?\"<>\\^`{|}[]/",
         u"http://h/?%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D%2F"},
        {"control characters and DEL", std::u16string(u"http://h/?a\tb\x7f" u"c"),
         u"http://h/?a%09b%7Fc"},
        {"non-ASCII as UTF-8", u"http://h/\u00e9?q=\u00e9\uD55C\U0001F600",
         u"http://h/\u00e9?q=%C3%A9%ED%95%9C%F0%9F%98%80"},
        {"second question mark drops the rest", u"http://h/p?a b?c d", u"http://h/p?a%20b"},
        {"leading question mark", u"?x y", u"?x%20y"},
        {"two in a row", u"http://h/p??x", u"http://h/p?"},
    };
    for (const EscapeCase& c : cases) {
        ShellText buffer = Text(c.in);
        EXPECT_TRUE(EscapeUrlQuery(buffer.data())) << c.name;
        EXPECT_TRUE(Read(buffer) == c.out) << c.name << ": " << QString::fromStdU16String(Read(buffer)).toStdString();
    }
}

TEST(EscapeUrlQuery, ResultThatDoesNotFitLeavesTheBufferUnchanged)
{
    const std::u16string base = u"http://h/p?";
    // Each blank grows by two characters when escaped.
    const std::u16string fits = base + std::u16string((kShellTextCapacity - 1 - base.size()) / 3, u' ');
    ShellText buffer = Text(fits);
    ASSERT_TRUE(EscapeUrlQuery(buffer.data()));
    EXPECT_LE(Read(buffer).size(), kShellTextCapacity - 1);

    const std::u16string tooLong = base + std::u16string(700, u' ');
    buffer = Text(tooLong);
    const ShellText before = buffer;
    EXPECT_FALSE(EscapeUrlQuery(buffer.data()));
    EXPECT_EQ(buffer, before);

    // Exactly full: base, "?" and the escaped query take 2,047 characters.
    std::u16string exact = u"http://h/?" + std::u16string(kShellTextCapacity - 1 - 10 - 3, u'a') + u" ";
    buffer = Text(exact);
    ASSERT_TRUE(EscapeUrlQuery(buffer.data()));
    EXPECT_EQ(Read(buffer).size(), kShellTextCapacity - 1);
    exact.insert(exact.begin() + 10, u'a');
    buffer = Text(exact);
    EXPECT_FALSE(EscapeUrlQuery(buffer.data()));
}

// ---- Opening with the desktop's handler -------------------------------------

class OpenWithExplorerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetLaunchHookForTesting([this](const QString& program, const QStringList& args) {
            launches.push_back({program, args});
            return true;
        });
    }
    void TearDown() override { SetLaunchHookForTesting(nullptr); }

    struct Launch {
        QString program;
        QStringList args;
    };
    std::vector<Launch> launches;
};

TEST_F(OpenWithExplorerTest, FolderPathIsOneArgumentUnchanged)
{
    const std::u16string folders[] = {
        u"/home/user/My Downloads",
        u"/tmp/\"quoted\" $HOME `x` ; rm -rf ~",
        u"/home/\uC0AC\uC6A9\uC790/\u00e9t\u00e9",
        u"/home/user/what? now & then #1?",
        u"",
    };
    for (const std::u16string& folder : folders) {
        launches.clear();
        EXPECT_TRUE(OpenWithExplorer(folder.c_str()));
        ASSERT_EQ(launches.size(), 1u);
        EXPECT_EQ(launches[0].program, "xdg-open");
        ASSERT_EQ(launches[0].args.size(), 1);
        EXPECT_EQ(launches[0].args[0], QString::fromStdU16String(folder));
    }
}

TEST_F(OpenWithExplorerTest, UrlIsPassedWithItsQueryEscaped)
{
    EXPECT_TRUE(OpenWithExplorer(u"http://h/news page?id=5&lang=\uD55C?tail"));
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].args, QStringList{"http://h/news page?id=5%26lang=%ED%95%9C"});
}

TEST_F(OpenWithExplorerTest, LongTextIsRefused)
{
    const std::u16string longest(kShellTextCapacity - 1, u'a');
    EXPECT_TRUE(OpenWithExplorer(longest.c_str()));
    EXPECT_EQ(launches.size(), 1u);

    const std::u16string tooLong(kShellTextCapacity, u'a');
    EXPECT_FALSE(OpenWithExplorer(tooLong.c_str()));
    const std::u16string farTooLong(10000, u'a');
    EXPECT_FALSE(OpenWithExplorer(farTooLong.c_str()));
    EXPECT_FALSE(OpenWithExplorer(nullptr));
    // A query that cannot be escaped within the limit starts nothing either.
    const std::u16string wideQuery = u"http://h/?" + std::u16string(1000, u' ');
    EXPECT_FALSE(OpenWithExplorer(wideQuery.c_str()));
    EXPECT_EQ(launches.size(), 1u);
    // A folder is not escaped, so it cannot outgrow the limit.
    const std::u16string wideFolder = u"/tmp/?" + std::u16string(1000, u' ');
    EXPECT_TRUE(OpenWithExplorer(wideFolder.c_str()));
    EXPECT_EQ(launches.size(), 2u);
}

} // namespace
