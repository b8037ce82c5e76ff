#include "ProjectFiles.h"

#include <cerrno>
#include <system_error>

#include "FileNaming.h"
#include "Localization.h"
#include "ProjectJson.h"
#include "Support/FileSystem.h"
#include "Support/MediaFingerprint.h"

namespace talvian {

namespace {

MediaError packagedCopyDiffers() {
    return MediaError(
        L("交接包内的原片与导出时不一致，不能套用原来的切点。请恢复完整原片，或重新导入并分析。"));
}

// Equal resolved spellings, or one file under two names (a hard link, a bind mount): replacing
// either would replace the source.
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (resolvedPath(a) == resolvedPath(b)) return true;
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

CutProject readProjectFile(const std::filesystem::path& file) {
    return ProjectJson::decode(
        readFileLimited(file, kMaximumProjectFileBytes, L("项目文件异常，超过 5 MB。")));
}

std::filesystem::path packagedSourceURL(const PackagedSource& reference,
                                        const std::filesystem::path& projectFile) {
    reference.validate();
    auto parent = projectFile.parent_path();
    auto package = resolvedPath(parent.empty() ? std::filesystem::path(".") : parent);
    auto candidate = resolvedPath(package / reference.relativePath);
    auto prefix = package.string();
    if (!prefix.ends_with('/')) prefix += '/';
    prefix += "media/";
    if (!candidate.string().starts_with(prefix))
        throw MediaError(L("交接包的素材引用超出了包内 media 文件夹。"));
    return candidate;
}

CutProject resolvePackagedSource(const CutProject& project, const std::filesystem::path& projectFile,
                                 const Cancellation& cancellation) {
    cancellation.check();
    if (!project.packagedSource) throw MediaError(L("交接包的素材引用无效。请保留完整的 media 文件夹。"));
    auto copy = packagedSourceURL(*project.packagedSource, projectFile);
    SourceMetadata before;
    try {
        before = SourceMetadata::read(copy);
    } catch (const std::system_error& error) {
        int code = error.code().value();
        if (code == ENOENT || code == ENOTDIR) throw MissingProjectSource(copy.string(), true, true);
        throw fileError(L("读取"), copy, code);
    }
    if (!before.isRegularFile || before.bytes != project.sourceBytes) throw packagedCopyDiffers();
    if (MediaFingerprint::sha256(copy, cancellation) != project.packagedSource->sha256)
        throw packagedCopyDiffers();
    auto after = readMetadata(copy);
    if (after.bytes != before.bytes || after.modifiedAt != before.modifiedAt)
        throw MediaError(L("原片在校验期间发生变化，请停止修改后重新打开项目。"));
    cancellation.check();
    CutProject resolved = project;
    resolved.source = copy.string();
    resolved.sourceBytes = before.bytes;
    resolved.modifiedAt = before.modifiedAt;
    return resolved;
}

namespace VevazAvezud {

CutProject save(const CutProject& project, const std::filesystem::path& target) {
    if (isSameFile(target, project.source)) throw MediaError(L("项目文件不能覆盖原始素材，请另选保存位置。"));
    CutProject written = project;
    if (project.packagedSource) {
        // Beside its copy the reference still holds; anywhere else only the digest can
        // recognise the source again.
        bool besideCopy = false;
        try {
            besideCopy = packagedSourceURL(*project.packagedSource, target) == resolvedPath(project.source);
        } catch (const MediaError&) {
        }
        if (!besideCopy) {
            written.sourceSHA256 = project.packagedSource->sha256;
            written.packagedSource.reset();
            written.version = written.versionForBase(CutProject::kBaseDigest);
        }
    }
    writeFileAtomically(target, ProjectJson::encode(written));
    return written;
}

CutProject load(const std::filesystem::path& file, const Cancellation& cancellation) {
    cancellation.check();
    auto project = readProjectFile(file);
    project.validateStructure();
    if (project.packagedSource) project = resolvePackagedSource(project, file, cancellation);
    project.validateSource();
    cancellation.check();
    return project;
}

}  // namespace VevazAvezud
}  // namespace talvian
