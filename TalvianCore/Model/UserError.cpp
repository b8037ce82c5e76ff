#include "UserError.h"

#include <unicode/utf8.h>

#include <cstdint>

#include "Localization.h"
#include "Support/UnicodeText.h"

namespace talvian {

namespace {

// Of the characters a long path keeps, this many come from its beginning; the rest, less
// the ellipsis, from its end, where the file name is.
constexpr std::size_t kMessagePathHeadCharacters = 60;
constexpr std::string_view kEllipsis = "…";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string missingSourceMessage(const std::string& path, bool isPackage) {
    return isPackage ? L("交接包内的原片缺失。请将 review.quenlo.json 与完整的 media "
                         "文件夹一起移动后再打开，或明确重新定位同一原片。\n%@",
                         pathForMessage(path))
                     : L("找不到项目的原素材。请将原素材放回此路径后重试：\n%@", pathForMessage(path));
}

}  // namespace

OperationCancelled::OperationCancelled() : UserError(L("任务已取消，原文件未改动。")) {}

MissingProjectSource::MissingProjectSource(std::string path, bool canRelocate, bool isPackage)
    : UserError(missingSourceMessage(path, isPackage)),
      path(std::move(path)),
      canRelocate(canRelocate),
      isPackage(isPackage) {}

ChangedProjectSource::ChangedProjectSource(std::string path)
    : UserError(L("原素材的文件信息已变化。可重新定位并核对原片，保留已有剪辑。\n%@", pathForMessage(path))),
      path(std::move(path)) {}

std::string generalFailureMessage() {
    return L("处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。");
}

std::string describeError(const std::exception_ptr& error) {
    return describeError(error, generalFailureMessage());
}

std::string describeError(const std::exception_ptr& error, const std::string& fallback) {
    try {
        std::rethrow_exception(error);
    } catch (const UserError& e) {
        return e.message();
    } catch (...) {
        return fallback;
    }
}

std::string pathForMessage(std::string_view path) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(path.data());
    const auto length = static_cast<std::int64_t>(path.size());
    // Walks the text once; `keep(index)` decides which code points are written (an ill-formed
    // sequence counts as one and is written as U+FFFD). Returns the number of code points.
    const auto walk = [&](std::string* text, const auto& keep) {
        std::size_t count = 0;
        for (std::int64_t i = 0; i < length; ++count) {
            const std::int64_t start = i;
            UChar32 c = 0;
            U8_NEXT(bytes, i, length, c);
            if (!text || !keep(count)) continue;
            if (c < 0)
                text->append(kReplacement);
            else
                text->append(
                    path.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
        return count;
    };
    const std::size_t total = walk(nullptr, [](std::size_t) { return false; });
    std::string text;
    if (total <= kMessagePathCharacters) {
        walk(&text, [](std::size_t) { return true; });
        return withVisibleControls(text);
    }
    const std::size_t tailStart = total - (kMessagePathCharacters - kMessagePathHeadCharacters - 1);
    walk(&text, [&](std::size_t index) {
        if (index == kMessagePathHeadCharacters) text.append(kEllipsis);
        return index < kMessagePathHeadCharacters || index >= tailStart;
    });
    return withVisibleControls(text);
}

}  // namespace talvian
