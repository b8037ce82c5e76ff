#include "Support/StrictJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "Model/ProjectJson.h"
#include "ProjectFixtures.h"

namespace talvian {
namespace {

using nlohmann::json;
using test::messageOf;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kDuplicate = "项目文件格式无效：同一对象中有重复的成员名。";

TEST(StrictJson, TextIsSortedEscapedAndFinite) {
    EXPECT_EQ(StrictJson::escapeSlashes(R"({"a":"x/y//z"})"), R"({"a":"x\/y\/\/z"})");
    json value = {{"zeta", "a/b"}, {"alpha", {{"b", 1}, {"a", 2.5}}}};
    EXPECT_EQ(StrictJson::dump(value, StrictJson::Style::compact),
              R"({"alpha":{"a":2.5,"b":1},"zeta":"a\/b"})");
    EXPECT_EQ(StrictJson::parse(StrictJson::dump(value, StrictJson::Style::pretty)), value);
    EXPECT_EQ(messageOf([] {
                  StrictJson::dump(json::array({1.0, kNaN}), StrictJson::Style::compact);
              }),
              "数据中有无效的数值（非数字或无穷大）。");
    EXPECT_EQ(messageOf([] {
                  StrictJson::dump(json{{"a", {{"b", -INFINITY}}}}, StrictJson::Style::pretty);
              }),
              "数据中有无效的数值（非数字或无穷大）。");
}

TEST(StrictJson, OneObjectNeverNamesAMemberTwice) {
    struct Case {
        const char* text;
        bool refused;
    };
    const Case cases[] = {
        {R"({"cuts": [1], "cuts": []})", true},
        {R"({"a": 1, "b": 2, "a": 1})", true},
        {R"({"info": {"duration": 30, "duration": 57}})", true},
        {R"([{"id": 1}, {"id": 2, "x": {}, "id": 3}])", true},
        // The same name spelt with an escape is the same member.
        {R"({"cuts": 1, "\u0063uts": 2})", true},
        {R"({"": 1, "": 2})", true},
        // The same name in different objects, nested or side by side, is fine.
        {R"({"id": 1, "inner": {"id": 2, "inner": {"id": 3}}})", false},
        {R"([{"id": 1}, {"id": 2}])", false},
        {R"({"a": {"b": 1}, "b": {"a": 1}})", false},
        {R"({"cuts": 1, "Cuts": 2, "cuts ": 3})", false},
    };
    for (const auto& c : cases) {
        if (c.refused)
            EXPECT_EQ(messageOf([&] { StrictJson::parse(c.text); }), kDuplicate) << c.text;
        else
            EXPECT_NO_THROW(StrictJson::parse(c.text)) << c.text;
    }
    // Malformed text after a duplicate-free start is still malformed text.
    EXPECT_EQ(messageOf([] { StrictJson::parse(R"({"a": 1, "b": )"); }), "项目文件不是有效的 JSON 文本。");
}

TEST(StrictJson, AProjectWithASecondMemberOfTheSameNameIsRefused) {
    CutProject project;
    project.source = "/media/talk.m4a";
    project.info.duration = 10;
    project.cuts = {CutRegion(1, 2, true)};
    const std::string document = ProjectJson::encode(project, ProjectJson::Style::compact);
    ASSERT_EQ(document.back(), '}');

    // A second, empty cut list would export the recording uncut if the last one won.
    const std::string appended[] = {R"(,"cuts":[]})", R"(,"source":"\/media\/other.m4a"})",
                                    R"(,"version":1})"};
    for (const auto& tail : appended) {
        std::string changed = document;
        changed.replace(changed.size() - 1, 1, tail);
        EXPECT_EQ(messageOf([&] { ProjectJson::decode(changed); }), kDuplicate) << tail;
    }
    std::string nested = document;
    nested.replace(nested.find("\"duration\":"), 0, "\"duration\":57,");
    EXPECT_EQ(messageOf([&] { ProjectJson::decode(nested); }), kDuplicate);
    EXPECT_EQ(ProjectJson::decode(document), project);
}

}  // namespace
}  // namespace talvian
