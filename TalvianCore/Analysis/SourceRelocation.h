#pragma once
// Recognising a project's source by content: re-verifying it before a save, and re-pointing a
// project at a file the user picked after the source was moved or renamed. A file is accepted
// only when its size and SHA-256 equal the recorded ones; its name never counts.

#include <filesystem>

#include "Model/CutProject.h"
#include "Support/MediaFingerprint.h"

namespace talvian::SourceRelocation {

// The project to save: its source (or packaged copy) hashed and checked against the recorded
// digest. A project without a packaged source comes back as a digest project (version 4 or 8,
// `sourceSHA256`, `source` resolved); a packaged one comes back unchanged. A project without
// any recorded digest first has its size and modification time checked. Throws MediaError,
// MissingProjectSource, ChangedProjectSource. Background thread; progress on it.
CutProject prepareForSave(const CutProject& project, const Cancellation& cancellation,
                          const FractionCallback& progress = {});

// The open project re-pointed at `chosen`, a digest project afterwards. A project that records
// no digest is refused before any file is read. Throws MediaError. Background thread.
CutProject relocate(const CutProject& project, const std::filesystem::path& chosen,
                    const Cancellation& cancellation, const FractionCallback& progress = {});

// As relocate, for the project in `projectFile` (which failed to open because its source is
// missing or changed); neither its old source nor a packaged copy is looked at. The file is
// read with the project-file size limit. Throws MediaError. Background thread.
CutProject relocateSavedProject(const std::filesystem::path& projectFile, const std::filesystem::path& chosen,
                                const Cancellation& cancellation, const FractionCallback& progress = {});

}  // namespace talvian::SourceRelocation
