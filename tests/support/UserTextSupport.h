#pragma once
// Checks of the texts a user reads: one finished sentence, no tool's or library's English,
// no name of a private work file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvian::test {

// Success when `text` is one line ending in "。" whose only Latin letters are inside the
// given `names` (the user's own file and folder names a message may quote).
::testing::AssertionResult isOneChineseSentence(const std::string& text,
                                                const std::vector<std::string>& names = {});

}  // namespace talvian::test
