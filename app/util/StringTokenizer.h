#pragma once

#include <string>
#include <vector>

// Splits a narrow text at every whole occurrence of a delimiter string and
// hands out the pieces by index. A text that ends with the delimiter gives no
// empty last token; an empty text gives no tokens at all.
class StringTokenizer
{
public:
    StringTokenizer(const std::string& text, const std::string& delimiter);

    // Replaces the text and delimiter and splits again. An empty delimiter
    // cannot cut anything, so the whole (non-empty) text becomes one token.
    void Split(const std::string& text, const std::string& delimiter);

    int GetCount() const;

    // A copy of the token at index; an empty string when index is at or past
    // the count.
    std::string GetToken(unsigned index) const;

private:
    std::string m_source;
    std::string m_delimiter;
    std::vector<std::string> m_tokens;
};
