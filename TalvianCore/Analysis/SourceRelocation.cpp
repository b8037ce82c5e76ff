#include "SourceRelocation.h"

#include <optional>
#include <string>

#include "Model/Localization.h"
#include "Model/ProjectFiles.h"
#include "Support/FileSystem.h"

namespace talvian::SourceRelocation {

namespace {

// The digest the project was verified with: its own, else the one its package recorded.
std::optional<std::string> recordedDigest(const CutProject& project) {
    if (project.sourceSHA256) return project.sourceSHA256;
    if (project.packagedSource) return project.packagedSource->sha256;
    return std::nullopt;
}

// The project re-pointed at `chosen` once its size, digest and stillness are proven.
CutProject match(const CutProject& project, const std::filesystem::path& chosen,
                 const std::optional<std::string>& expected, const Cancellation& cancellation,
                 const FractionCallback& progress) {
    if (!chosen.is_absolute()) throw MediaError(L("请选择本机的原素材文件。"));
    auto file = resolvedPath(chosen);
    auto before = readMetadata(file);
    // The size alone settles most wrong picks without reading a byte.
    if (!before.isRegularFile || before.bytes != project.sourceBytes)
        throw MediaError(L("所选文件与原片不同，不能沿用这些切点。请选择完整的同一原片。"));
    auto digest = MediaFingerprint::sha256(file, cancellation, progress);
    auto after = readMetadata(file);
    if (after.bytes != before.bytes || after.modifiedAt != before.modifiedAt)
        throw MediaError(L("原片在核对期间发生变化，请停止修改后重试。"));
    if (expected && *expected != digest)
        throw MediaError(L("所选文件内容与原片不同，不能沿用这些切点。文件同名也不能替代原片。"));
    cancellation.check();

    CutProject result = project;
    result.source = file.string();
    result.sourceBytes = before.bytes;
    result.modifiedAt = before.modifiedAt;
    result.packagedSource.reset();
    result.sourceSHA256 = digest;
    result.version = result.versionForBase(CutProject::kBaseDigest);
    result.validateSource();
    return result;
}

// The rest of relocate, after the cancellation check and the structure.
CutProject relocateValid(const CutProject& project, const std::filesystem::path& chosen,
                         const Cancellation& cancellation, const FractionCallback& progress) {
    auto expected = recordedDigest(project);
    // Without a digest only the name could match, and a name proves nothing.
    if (!expected)
        throw MediaError(
            L("此旧项目没有记录原片身份。请先恢复原路径并保存项目，再重新定位；不会仅凭文件名套用切点。"));
    return match(project, chosen, expected, cancellation, progress);
}

}  // namespace

CutProject prepareForSave(const CutProject& project, const Cancellation& cancellation,
                          const FractionCallback& progress) {
    cancellation.check();
    project.validateStructure();
    auto expected = recordedDigest(project);
    if (!expected) project.validateSource();
    auto matched = match(project, project.source, expected, cancellation, progress);
    // For a packaged project the check only proved the copy intact; its reference stays.
    return project.packagedSource ? project : matched;
}

CutProject relocate(const CutProject& project, const std::filesystem::path& chosen,
                    const Cancellation& cancellation, const FractionCallback& progress) {
    cancellation.check();
    project.validateStructure();
    return relocateValid(project, chosen, cancellation, progress);
}

CutProject relocateSavedProject(const std::filesystem::path& projectFile, const std::filesystem::path& chosen,
                                const Cancellation& cancellation, const FractionCallback& progress) {
    cancellation.check();
    auto project = readProjectFile(projectFile);
    cancellation.check();
    project.validateStructure();
    return relocateValid(project, chosen, cancellation, progress);
}

}  // namespace talvian::SourceRelocation
