#pragma once
// The one family of errors that reaches the user: every kind carries a finished Chinese
// sentence, and may carry diagnostics (a library's or a child's own words) that are kept
// for the support report and never shown. Low-level failures are turned into one of these
// where they happen; the controller turns any caught exception into text with describeError.

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace talvian {

// Base of every error meant for the user. message() is the sentence shown; diagnostics()
// is English or technical detail (FFmpeg's error text, a child's standard error), empty
// when there is none.
class UserError : public std::exception {
  public:
    explicit UserError(std::string message, std::string diagnostics = {})
        : message_(std::move(message)), diagnostics_(std::move(diagnostics)) {}
    const std::string& message() const { return message_; }
    const std::string& diagnostics() const { return diagnostics_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
    std::string diagnostics_;
};

// The common kind: media, analysis, export and project-file failures with their own sentence.
class MediaError : public UserError {
  public:
    using UserError::UserError;
};

// The operation was cancelled through its token: "任务已取消，原文件未改动。". Recognised by
// its type, never by its text; deliberately not a MediaError, so a handler that rewords
// media failures never swallows a cancellation.
class OperationCancelled : public UserError {
  public:
    OperationCancelled();
};

// A review project's source file does not exist at `path`.
class MissingProjectSource : public UserError {
  public:
    MissingProjectSource(std::string path, bool canRelocate = false, bool isPackage = false);
    std::string path;
    bool canRelocate = false;
    bool isPackage = false;
};

// A review project's source exists but its size or modification time changed.
class ChangedProjectSource : public UserError {
  public:
    explicit ChangedProjectSource(std::string path);
    std::string path;
};

// "处理未完成。原片和已有剪辑已保留。请检查素材是否完整、输出文件夹是否可写，然后重试。": what the
// user reads for a failure that carries no sentence of its own.
std::string generalFailureMessage();

// The user's text of a caught failure: message() of a UserError (the cancellation sentence
// only for OperationCancelled), the general sentence for anything else (library texts are
// English and never reach the user). Any thread.
std::string describeError(const std::exception_ptr& error);
// The same, with `fallback` in place of the general sentence where the caller knows better
// what failed (the cancellation sentence still stands for OperationCancelled).
std::string describeError(const std::exception_ptr& error, const std::string& fallback);

// Paths and file names in messages are cut to this many characters.
inline constexpr std::size_t kMessagePathCharacters = 160;

// A path or name as it may stand in a message: valid UTF-8 (ill-formed bytes become U+FFFD),
// and when it is longer than kMessagePathCharacters code points, its beginning and its end
// (where the file name is) joined by "…"; its controls made visible (withVisibleControls), so
// that it can neither reorder nor break the sentence around it. Any thread.
std::string pathForMessage(std::string_view path);

}  // namespace talvian
