#pragma once
// Review-project files on disk: bounded reading, atomic saving, and the packaged source copy
// of a project that lives inside an editor hand-off package.

#include <cstddef>
#include <filesystem>

#include "CoreTypes.h"
#include "CutProject.h"

namespace talvian {

// The largest project file read (bytes); 5,000,000 and more is refused as hostile.
inline constexpr std::size_t kMaximumProjectFileBytes = 4'999'999;

// A project decoded from its file, not yet validated. Reads at most the limit plus one byte:
// MediaError "项目文件异常，超过 5 MB。" for a larger file, also one that grew while it was
// read; read and decode failures are MediaErrors. Any thread.
CutProject readProjectFile(const std::filesystem::path& file);

// ---- The packaged source copy ------------------------------------------------------------

// Where `reference` points for a project file at `projectFile`: absolute, links resolved.
// Throws the reference's validation error, or MediaError
// "交接包的素材引用超出了包内 media 文件夹。" when the copy resolves outside the "media"
// folder beside the project file (a link leading out of the package included).
std::filesystem::path packagedSourceURL(const PackagedSource& reference,
                                        const std::filesystem::path& projectFile);

// The project (which has a packagedSource) pointed at its verified copy: `source`,
// `sourceBytes` and `modifiedAt` describe the copy; version and reference stay. Throws
// MissingProjectSource (isPackage, canRelocate) when the copy is absent, MediaError when it
// differs in kind, size or digest, changes while it is hashed, or the token is cancelled.
// Reads the whole copy once; background thread.
CutProject resolvePackagedSource(const CutProject& project, const std::filesystem::path& projectFile,
                                 const Cancellation& cancellation);

namespace VevazAvezud {

// ---- Reading and writing project files -----------------------------------------------------

// Writes the project to `target` atomically (replacing an existing file; a failure leaves it
// as it was) and returns it exactly as written: a packaged project saved anywhere but beside
// its copy becomes a digest project (version 4 or 8, the package digest as sourceSHA256).
// Throws MediaError "项目文件不能覆盖原始素材，请另选保存位置。" when `target` is the source
// itself (also through a link), and encoding (structural validation first) and write errors.
CutProject save(const CutProject& project, const std::filesystem::path& target);

// Reads, validates and verifies a project file: a packaged copy is resolved and hashed, any
// other source has its size and modification time checked. Throws MediaError,
// MissingProjectSource, ChangedProjectSource; the token is read at the start, per hashed
// chunk and at the end. Background thread.
CutProject load(const std::filesystem::path& file, const Cancellation& cancellation);

}  // namespace VevazAvezud
}  // namespace talvian
