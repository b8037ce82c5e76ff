#include "FFmpegSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "Model/Localization.h"
#include "Support/FileSystem.h"

namespace talvian::media {

void OutputContextDeleter::operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
}

Frame makeFrame() {
    Frame frame(av_frame_alloc());
    if (!frame) std::rethrow_exception(ffmpegError(L("分配画面"), AVERROR(ENOMEM)));
    return frame;
}

Packet makePacket() {
    Packet packet(av_packet_alloc());
    if (!packet) std::rethrow_exception(ffmpegError(L("分配数据包"), AVERROR(ENOMEM)));
    return packet;
}

namespace {

// What the user can make of an FFmpeg code; nothing for codes that only say the library
// failed (those go to the diagnostics alone).
std::optional<std::string> reasonText(int code) {
    switch (code) {
        case AVERROR_INVALIDDATA:
            return L("文件数据无效或已损坏");
        case AVERROR_EOF:
            return L("文件意外结束");
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_ENCODER_NOT_FOUND:
            return L("缺少所需的编解码器");
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND:
        case AVERROR_PROTOCOL_NOT_FOUND:
            return L("无法识别文件格式");
        case AVERROR_STREAM_NOT_FOUND:
            return L("找不到所需的音视频轨道");
        case AVERROR_PATCHWELCOME:
        case AVERROR(ENOSYS):
            return L("暂不支持此媒体格式");
        case AVERROR(ENOMEM):
            return L("内存不足");
        case AVERROR(EINVAL):
            // FFmpeg's answer to nearly every inconsistency of its own: nothing for the user.
            return std::nullopt;
        default:
            // AVERROR(e) of a system call: the file-system sentences already say it in Chinese.
            if (code < 0 && -code < 4096) return systemErrorText(-code);
            return std::nullopt;
    }
}

std::string diagnosticsText(std::string_view action, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return "FFmpeg " + std::to_string(code) + " (" + text + ") while: " + std::string(action);
}

}  // namespace

std::exception_ptr ffmpegError(std::string_view action, int code, const std::string& sentence) {
    if (code == AVERROR_EXIT) return std::make_exception_ptr(OperationCancelled());
    std::string diagnostics = diagnosticsText(action, code);
    if (auto reason = reasonText(code))
        return std::make_exception_ptr(
            MediaError(L("无法%@：%@。", std::string(action), *reason), std::move(diagnostics)));
    return std::make_exception_ptr(
        MediaError(sentence.empty() ? L("无法%@。", std::string(action)) : sentence, std::move(diagnostics)));
}

int checked(int code, std::string_view action, const std::string& sentence) {
    if (code < 0) std::rethrow_exception(ffmpegError(action, code, sentence));
    return code;
}

InputContext openInput(const std::filesystem::path& path, Interrupt& interrupt) {
    std::string action = L("打开%@", fileLabel(path));
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) std::rethrow_exception(ffmpegError(action, AVERROR(ENOMEM)));
    raw->interrupt_callback = interrupt.callback();
    // On failure avformat_open_input frees the context itself.
    checked(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), action);
    InputContext context(raw);
    checked(avformat_find_stream_info(context.get(), nullptr), action);
    return context;
}

int firstStream(const AVFormatContext& context, AVMediaType type) {
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream* stream = context.streams[i];
        if (stream->codecpar->codec_type != type) continue;
        if (type == AVMEDIA_TYPE_VIDEO && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        return static_cast<int>(i);
    }
    return -1;
}

MediaTime streamTime(std::int64_t timestamp, AVRational timeBase) {
    if (timestamp == AV_NOPTS_VALUE || timeBase.num < 1 || timeBase.den < 1) return MediaTime::invalid();
    if (timeBase.num == 1) return {timestamp, timeBase.den};
    // A time base like 1001/30000: scale the count; overflow makes the time unusable.
    std::int64_t value = 0;
    if (__builtin_mul_overflow(timestamp, static_cast<std::int64_t>(timeBase.num), &value))
        return MediaTime::invalid();
    return {value, timeBase.den};
}

OutputFile::OutputFile(const std::filesystem::path& path, Interrupt& interrupt, Destination destination)
    : path_(path) {
    if (destination == Destination::newFile) {
        // Created here with O_EXCL, so the file FFmpeg then opens is one nobody else had.
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd) throw fileError(L("创建"), path, errno);
    } else {
        // FFmpeg opens it again and truncates it: the same file, so its holder's lock stays.
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd) throw fileError(L("创建"), path, errno);
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) throw fileError(L("创建"), path, errno);
        if (!S_ISREG(info.st_mode) || info.st_size != 0) throw fileError(L("创建"), path, EEXIST);
    }
    try {
        std::string action = L("写入%@", fileLabel(path));
        AVFormatContext* raw = nullptr;
        checked(avformat_alloc_output_context2(&raw, nullptr, "mp4", path.c_str()), action);
        context_.reset(raw);
        raw->interrupt_callback = interrupt.callback();
        checked(avio_open2(&raw->pb, path.c_str(), AVIO_FLAG_WRITE, &raw->interrupt_callback, nullptr),
                action);
    } catch (...) {
        context_.reset();
        ::unlink(path.c_str());
        throw;
    }
}

OutputFile::~OutputFile() {
    context_.reset();
    if (!committed_) ::unlink(path_.c_str());
}

void OutputFile::commit() {
    AVFormatContext* context = context_.get();
    if (context && context->pb) {
        int code = avio_closep(&context->pb);
        checked(code, L("写入%@", fileLabel(path_)));
    }
    committed_ = true;
}

void copyDisplayMatrix(const AVStream& from, AVStream& to) {
    std::size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(&from, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(std::int32_t)) return;
    std::uint8_t* copy = av_stream_new_side_data(&to, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (!copy) std::rethrow_exception(ffmpegError(L("保留画面旋转信息"), AVERROR(ENOMEM)));
    std::memcpy(copy, matrix, size);
}

}  // namespace talvian::media
