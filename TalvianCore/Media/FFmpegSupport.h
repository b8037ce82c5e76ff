#pragma once
// The plumbing of the media layer over FFmpeg's libraries (internal to Media/): one owner
// per handle type, the one translation of FFmpeg error codes into Chinese sentences, the
// interrupt callback that lets a cancelled token stop blocking I/O, and output files that
// disappear unless they were finished.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>

#include "MediaTime.h"
#include "Model/CoreTypes.h"
#include "Support/FileSystem.h"

namespace talvian::media {

struct InputContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const;  // closes its file, then frees it
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using InputContext = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Scaler = std::unique_ptr<SwsContext, ScalerDeleter>;

// Throws MediaError "无法分配画面：内存不足。" (or "…数据包…") when FFmpeg could not allocate.
Frame makeFrame();
Packet makePacket();

// The user error for FFmpeg's `code`, met while doing `action` ("读取原片画面"): the
// cancellation for an interrupted operation (AVERROR_EXIT); MediaError "无法<action>：<reason>。"
// when the code has a reason the user can act on (damaged data, a missing codec, a full disk
// …); else MediaError `sentence`, or "无法<action>。" when none is given. FFmpeg's own text
// goes to diagnostics(). The only place FFmpeg's codes turn into user text.
std::exception_ptr ffmpegError(std::string_view action, int code, const std::string& sentence = {});
// Throws ffmpegError(action, code, sentence) when code < 0; returns code otherwise.
int checked(int code, std::string_view action, const std::string& sentence = {});

// Throws OperationCancelled when the token (if any) is set.
inline void checkCancelled(const CancellationToken& token) {
    if (token) token->check();
}

// What FFmpeg's blocking I/O polls: the token, and an abort request of its own (the
// cancel action of a load). Must outlive the contexts that point at it.
class Interrupt {
  public:
    explicit Interrupt(CancellationToken token) : token_(std::move(token)) {}
    void abort() { aborted_ = true; }
    bool shouldStop() const { return aborted_ || (token_ && token_->isCancelled()); }
    AVIOInterruptCB callback() { return {&Interrupt::poll, this}; }

  private:
    static int poll(void* opaque) { return static_cast<Interrupt*>(opaque)->shouldStop() ? 1 : 0; }
    CancellationToken token_;
    std::atomic<bool> aborted_{false};
};

// Opens a media file for reading and reads its stream facts; I/O polls `interrupt`.
// Throws MediaError (ffmpegError with the action "打开<fileLabel>").
InputContext openInput(const std::filesystem::path& path, Interrupt& interrupt);

// The first stream of a type, skipping attached cover pictures; -1 when there is none.
int firstStream(const AVFormatContext& context, AVMediaType type);

// A stream timestamp as a media time (invalid for AV_NOPTS_VALUE or an unusable time base).
MediaTime streamTime(std::int64_t timestamp, AVRational timeBase);

// An MPEG-4 file with its output context: created exclusively (an existing file is never
// replaced), or, as Destination::workFile, the caller's empty work file written in place (any
// other entry there is refused as taken); removed again when destroyed before commit(). I/O
// polls `interrupt`.
class OutputFile {
  public:
    // Throws MediaError (fileError for the creation, ffmpegError for the context).
    OutputFile(const std::filesystem::path& path, Interrupt& interrupt,
               Destination destination = Destination::newFile);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    AVFormatContext* context() const { return context_.get(); }
    // Closes the file and keeps it.
    void commit();

  private:
    std::filesystem::path path_;
    OutputContext context_;
    bool committed_ = false;
};

// Copies the stream's display matrix (rotation) onto another stream, when it has one.
void copyDisplayMatrix(const AVStream& from, AVStream& to);

}  // namespace talvian::media
