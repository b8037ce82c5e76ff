#include "UserTextSupport.h"

#include <algorithm>

namespace talvian::test {

::testing::AssertionResult isOneChineseSentence(const std::string& text,
                                                const std::vector<std::string>& names) {
    if (text.empty()) return ::testing::AssertionFailure() << "no text";
    if (text.find_first_of("\r\n") != std::string::npos)
        return ::testing::AssertionFailure() << "more than one line: " << text;
    if (!text.ends_with("。")) return ::testing::AssertionFailure() << "no finished sentence: " << text;
    std::string rest = text;
    for (const auto& name : names) {
        for (auto at = rest.find(name); !name.empty() && at != std::string::npos; at = rest.find(name))
            rest.erase(at, name.size());
    }
    const bool latin = std::any_of(rest.begin(), rest.end(),
                                   [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
    if (latin) return ::testing::AssertionFailure() << "Latin letters outside the user's names: " << text;
    return ::testing::AssertionSuccess();
}

}  // namespace talvian::test
