#include "app/util/StringTokenizer.h"

StringTokenizer::StringTokenizer(const std::string& text, const std::string& delimiter)
{
    Split(text, delimiter);
}

void StringTokenizer::Split(const std::string& text, const std::string& delimiter)
{
    m_source = text;
    m_delimiter = delimiter;
    m_tokens.clear();

    if (text.empty())
        return;
    if (delimiter.empty()) {
        // Nothing to cut at: an empty delimiter would match at the front of
        // the rest forever without consuming anything.
        m_tokens.push_back(text);
        return;
    }

    // Walk the text with a start offset instead of shortening a copy: the
    // pieces are the same, without re-copying the rest on every cut.
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type found = text.find(delimiter, start);
        if (found == std::string::npos) {
            m_tokens.push_back(text.substr(start));
            break;
        }
        m_tokens.push_back(text.substr(start, found - start));
        start = found + delimiter.size();
    }
}

int StringTokenizer::GetCount() const
{
    return static_cast<int>(m_tokens.size());
}

std::string StringTokenizer::GetToken(unsigned index) const
{
    if (index >= m_tokens.size())
        return std::string();
    return m_tokens[index];
}
