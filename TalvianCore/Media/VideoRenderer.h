#pragma once
// The video render step's own pieces: its hidden work folder, the progress mapping of its
// sound step, and the mux that joins the re-encoded picture and the cut sound into one
// MPEG-4 file without re-encoding either (index before the media data).

#include <filesystem>

#include "MediaTime.h"
#include "Model/CoreTypes.h"
#include "Support/FileSystem.h"

namespace talvian::VideoRenderer {

// "<folder>/.TalvianVideo-<UUID>", created (mode 0700, no parents) by the constructor and
// removed with everything in it by the destructor, whatever the outcome; a failure to
// remove is ignored. Holds "picture.mp4" and "sound.m4a".
class WorkFolder {
  public:
    // Throws MediaError (fileError) when the folder cannot be created.
    explicit WorkFolder(const std::filesystem::path& outputFolder);

    const std::filesystem::path& path() const { return folder_.path(); }
    std::filesystem::path picture() const { return folder_ / "picture.mp4"; }
    std::filesystem::path sound() const { return folder_ / "sound.m4a"; }

  private:
    WorkPath folder_;
};

// Where the sound step sits in the export's progress: reports (0.68 + 0.27 × p, text) to
// `exportProgress` for every (p, text) of the audio renderer.
ProgressCallback soundProgress(ProgressCallback exportProgress);

// Copies the first picture stream of `picture` and the first sound stream of `sound`, each
// over [0, duration) of presentation time (a longer sound is cut at `duration`), into a new
// MPEG-4 file at `destination` (never replacing a file; as Destination::workFile, into the
// caller's empty work file there, in place), with the picture's rotation and
// the picture file's metadata, moov atom first. Reports 0.96 with "合并音画", then
// 0.96 + 0.03 × the share copied (never 1.0). Runs on the calling thread. Throws MediaError:
// the cancellation sentence, "无法读取导出画面或音轨。", "无法建立音画合并轨道。",
// "系统无法在保持编码的情况下合并音画。", "音画合并未完成，未交付此结果。" or an FFmpeg failure
// in Chinese; a failed mux leaves no file at `destination`.
void mux(const std::filesystem::path& picture, const std::filesystem::path& sound, MediaTime duration,
         const std::filesystem::path& destination, const CancellationToken& cancellation,
         const ProgressCallback& progress, Destination kind = Destination::newFile);

}  // namespace talvian::VideoRenderer
