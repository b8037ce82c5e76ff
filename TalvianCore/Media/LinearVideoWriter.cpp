#include "LinearVideoWriter.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
}

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "FFmpegSupport.h"
#include "FrameReader.h"
#include "MediaPreparation.h"
#include "MediaTiming.h"
#include "Model/Localization.h"

namespace talvian::LinearVideoWriter {

namespace {

constexpr double kBitsPerPixel = 0.25;
constexpr double kMinimumBitRate = 1'000'000;
constexpr double kMaximumBitRate = 40'000'000;
constexpr double kKeyFrameSeconds = 2;
// The picture's share of the whole export's progress.
constexpr double kProgressShare = 0.68;
constexpr std::int64_t kFramesPerProgressReport = 128;
// The largest term of a pixel aspect ratio that every encoder writes unchanged.
constexpr int kMaximumAspectTerm = 4096;

double effectiveFrameRate(double frameRate) {
    return std::isnan(frameRate) ? 1.0 : std::max(frameRate, 1.0);
}

// The opened source and the facts read from it; owns everything the load touched, since
// a cancelled load may finish after render has returned.
struct SourcePicture {
    std::shared_ptr<media::Interrupt> interrupt;  // outlives the input pointing at it
    media::InputContext input;
    int videoIndex = -1;
    int audioIndex = -1;
    std::int32_t sampleTimescale = 0;
    std::int64_t naturalTimescale = 1;
};

// H.273 code points 0 (reserved), 2 (unspecified) and 3 (reserved) carry no colour fact;
// 0 is a real matrix (identity) and stays.
std::optional<int> tag(int value, bool zeroIsValid) {
    if (value == 2 || value == 3 || (value == 0 && !zeroIsValid)) return std::nullopt;
    return value;
}

PictureFormat pictureFormat(const AVStream& stream) {
    const AVCodecParameters& parameters = *stream.codecpar;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(parameters.format));
    if (parameters.codec_id == AV_CODEC_ID_NONE || !descriptor) throw MediaError(L("无法读取画面格式。"));
    if (parameters.width < 1 || parameters.height < 1) throw MediaError(L("画面尺寸无效。"));
    PictureFormat format;
    format.width = parameters.width;
    format.height = parameters.height;
    format.bitsPerComponent = descriptor->comp[0].depth;
    format.colourPrimaries = tag(parameters.color_primaries, false);
    format.transferCharacteristics = tag(parameters.color_trc, false);
    format.matrixCoefficients = tag(parameters.color_space, true);
    AVRational ratio = parameters.sample_aspect_ratio;
    if (ratio.num == 0) ratio = stream.sample_aspect_ratio;
    if (ratio.num != 0) format.pixelAspectRatio = std::array<int, 2>{ratio.num, ratio.den};
    return format;
}

// One kept segment on the sample grid and where it starts on the cut timeline.
struct Segment {
    MediaTimeRange source;
    MediaTime offset;
};

std::string progressText() {
    return L("渲染剪后画面");
}

// The encoder and its one-track MPEG-4 file.
class PictureEncoder {
  public:
    PictureEncoder(const PictureSettings& settings, std::int32_t timescale, const AVStream& sourceStream,
                   media::OutputFile& file)
        : file_(file), packet_(media::makePacket()) {
        bool hevc = settings.codec == VideoCodec::hevc;
        const AVCodec* codec = avcodec_find_encoder_by_name(hevc ? "libx265" : "libx264");
        auto refuse = [] { return MediaError(L("系统无法保持此画面的编码或颜色格式。")); };
        if (!codec) throw refuse();
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) throw refuse();
        AVCodecContext& c = *encoder_;
        c.width = settings.width;
        c.height = settings.height;
        c.pix_fmt = hevc ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        c.time_base = {1, timescale};
        c.framerate = av_d2q(settings.expectedFrameRate, 1 << 20);
        c.bit_rate = std::llround(settings.averageBitRate);
        c.gop_size = static_cast<int>(std::min<std::int64_t>(settings.maxKeyFrameInterval, INT32_MAX));
        // No reordering: every packet keeps the duration of the frame it came from.
        c.max_b_frames = 0;
        c.color_range = AVCOL_RANGE_MPEG;
        if (settings.colour) {
            c.color_primaries = static_cast<AVColorPrimaries>((*settings.colour)[0]);
            c.color_trc = static_cast<AVColorTransferCharacteristic>((*settings.colour)[1]);
            c.colorspace = static_cast<AVColorSpace>((*settings.colour)[2]);
        }
        if (settings.pixelAspectRatio)
            c.sample_aspect_ratio = {(*settings.pixelAspectRatio)[0], (*settings.pixelAspectRatio)[1]};
        if (file.context()->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        c.thread_count = 0;
        // The encoders' own statistics would drown the one line this writer prints.
        if (hevc) {
            std::string parameters = "bframes=0:keyint=" + std::to_string(c.gop_size) + ":log-level=error";
            if (av_opt_set(c.priv_data, "profile", "main10", 0) < 0 ||
                av_opt_set(c.priv_data, "x265-params", parameters.c_str(), 0) < 0)
                throw refuse();
        } else if (av_opt_set(c.priv_data, "x264-params", "log=1", 0) < 0) {
            throw refuse();
        }
        if (avcodec_open2(&c, codec, nullptr) < 0) throw refuse();

        AVFormatContext* output = file.context();
        stream_ = avformat_new_stream(output, nullptr);
        if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, &c) < 0)
            throw MediaError(L("无法建立画面写入轨道。"));
        stream_->time_base = c.time_base;
        stream_->codecpar->codec_tag = hevc ? MKTAG('h', 'v', 'c', '1') : 0;
        media::copyDisplayMatrix(sourceStream, *stream_);
    }

    // Writes the file header; the track and the movie take the timescale of the encoder.
    void start() {
        AVDictionary* options = nullptr;
        std::string timescale = std::to_string(encoder_->time_base.den);
        av_dict_set(&options, "movie_timescale", timescale.c_str(), 0);
        av_dict_set(&options, "video_track_timescale", timescale.c_str(), 0);
        int code = avformat_write_header(file_.context(), &options);
        av_dict_free(&options);
        media::checked(code, L("开始写入画面"), L("无法开始写入画面。"));
    }

    // Encodes a reference to `frame` at `pts` for `duration` (both at the encoder's timescale).
    void append(const AVFrame& frame, std::int64_t pts, std::int64_t duration) {
        media::Frame copy(av_frame_clone(&frame));
        if (!copy) throw MediaError(L("无法写入剪后画面。"));
        copy->pts = pts;
        copy->pkt_duration = duration;
        // The source's frame types mean nothing on the new timeline; the encoder decides.
        copy->pict_type = AV_PICTURE_TYPE_NONE;
        durations_[pts] = duration;
        media::checked(avcodec_send_frame(encoder_.get(), copy.get()), L("编码剪后画面"),
                       L("无法写入剪后画面。"));
        drain(L("画面写入已停止。"));
    }

    void finish() {
        const std::string unfinished = L("画面编码未完整结束。");
        media::checked(avcodec_send_frame(encoder_.get(), nullptr), L("编码剪后画面"), unfinished);
        drain(unfinished);
        media::checked(av_write_trailer(file_.context()), L("完成画面编码"), unfinished);
    }

  private:
    // Writes every packet the encoder has ready; `sentence` names the failure of this stage
    // when FFmpeg's code gives the user nothing to act on.
    void drain(const std::string& sentence) {
        for (;;) {
            int code = avcodec_receive_packet(encoder_.get(), packet_.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return;
            media::checked(code, L("编码剪后画面"), sentence);
            if (auto it = durations_.find(packet_->pts); it != durations_.end()) {
                packet_->duration = it->second;
                durations_.erase(it);
            }
            av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            code = av_interleaved_write_frame(file_.context(), packet_.get());
            av_packet_unref(packet_.get());
            media::checked(code, L("写入剪后画面"), sentence);
        }
    }

    media::OutputFile& file_;
    media::CodecContext encoder_;
    media::Packet packet_;
    AVStream* stream_ = nullptr;
    // Frame durations by presentation time, until the packet of that frame comes out.
    std::map<std::int64_t, std::int64_t> durations_;
};

// End of the last frame: its own duration, else the stream's end.
MediaTime lastFrameEnd(const AVFrame& frame, const AVStream& stream) {
    if (frame.pkt_duration > 0 && frame.pts != AV_NOPTS_VALUE)
        return media::streamTime(frame.pts + frame.pkt_duration, stream.time_base);
    if (stream.duration == AV_NOPTS_VALUE) return MediaTime::invalid();
    std::int64_t start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
    return media::streamTime(start + stream.duration, stream.time_base);
}

}  // namespace

double averageBitRate(std::int32_t width, std::int32_t height, double frameRate) {
    double pixels = static_cast<double>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) *
                                        static_cast<std::uint32_t>(height));
    return std::max(std::min(effectiveFrameRate(frameRate) * pixels * kBitsPerPixel, kMaximumBitRate),
                    kMinimumBitRate);
}

std::int64_t maxKeyFrameInterval(double frameRate) {
    return std::max<std::int64_t>(1, std::llround(kKeyFrameSeconds * effectiveFrameRate(frameRate)));
}

std::int32_t trackTimescale(std::int64_t naturalTimescale, std::int32_t sampleRate) {
    std::int64_t lcm = leastCommonMultiple(std::max<std::int64_t>(naturalTimescale, 1), sampleRate);
    if (lcm < 1 || lcm > std::numeric_limits<std::int32_t>::max()) return kFallbackTimescale;
    return static_cast<std::int32_t>(lcm);
}

VideoCodec codec(const PictureFormat& format) {
    bool hdr =
        format.transferCharacteristics == kTransferPQ || format.transferCharacteristics == kTransferHLG;
    return hdr || format.bitsPerComponent > 8 ? VideoCodec::hevc : VideoCodec::h264;
}

PictureSettings settings(const PictureFormat& format, double frameRate) {
    PictureSettings result;
    result.codec = codec(format);
    result.width = static_cast<std::int32_t>(encodedPictureSide(format.width));
    result.height = static_cast<std::int32_t>(encodedPictureSide(format.height));
    result.averageBitRate = averageBitRate(format.width, format.height, frameRate);
    result.expectedFrameRate = effectiveFrameRate(frameRate);
    result.maxKeyFrameInterval = maxKeyFrameInterval(frameRate);
    if (format.colourPrimaries && format.transferCharacteristics && format.matrixCoefficients)
        result.colour = {*format.colourPrimaries, *format.transferCharacteristics,
                         *format.matrixCoefficients};
    if (format.pixelAspectRatio) {
        auto [horizontal, vertical] = *format.pixelAspectRatio;
        if (horizontal < 1 || vertical < 1) throw MediaError(L("像素比例信息无效。"));
        result.pixelAspectRatio = format.pixelAspectRatio;
    }
    if (result.width != format.width || result.height != format.height) {
        // The repeated column or row widens the stored picture; the pixels become narrower (or
        // shorter) by as much, so it is shown at the source's display aspect.
        auto [horizontal, vertical] = result.pixelAspectRatio.value_or(std::array<int, 2>{1, 1});
        AVRational ratio = av_mul_q({horizontal, vertical}, {format.width, result.width});
        ratio = av_mul_q(ratio, {result.height, format.height});
        // H.264 and HEVC store the ratio in 16 bits (libx264 reduces it within 4096): the file's
        // header and the stream then say the same.
        int num = 1, den = 1;
        av_reduce(&num, &den, ratio.num, ratio.den, kMaximumAspectTerm);
        result.pixelAspectRatio = std::array<int, 2>{num, den};
    }
    return result;
}

MediaTime render(const std::filesystem::path& source, const MediaInfo& info,
                 const std::vector<CutRegion>& kept, const std::filesystem::path& destination,
                 const CancellationToken& cancellation, const ProgressCallback& progress) {
    auto report = [&](double fraction) {
        if (progress) progress(fraction, progressText());
    };

    // Open the source and read its facts, abandoned within 25 ms of a cancellation.
    auto interrupt = std::make_shared<media::Interrupt>(cancellation);
    auto picture = MediaPreparation::load<std::shared_ptr<SourcePicture>>(
        cancellation, [interrupt] { interrupt->abort(); },
        [source, interrupt, cancellation] {
            auto loaded = std::make_shared<SourcePicture>();
            loaded->interrupt = interrupt;
            loaded->input = media::openInput(source, *interrupt);
            loaded->videoIndex = media::firstStream(*loaded->input, AVMEDIA_TYPE_VIDEO);
            if (loaded->videoIndex < 0) throw MediaError(L("无法读取画面或音轨。"));
            media::checkCancelled(cancellation);
            loaded->audioIndex = media::firstStream(*loaded->input, AVMEDIA_TYPE_AUDIO);
            if (loaded->audioIndex < 0) throw MediaError(L("无法读取画面或音轨。"));
            media::checkCancelled(cancellation);
            int rate = loaded->input->streams[loaded->audioIndex]->codecpar->sample_rate;
            loaded->sampleTimescale =
                MediaTiming::sampleTimescale(rate > 0 ? std::optional<double>(rate) : std::nullopt);
            media::checkCancelled(cancellation);
            loaded->naturalTimescale = std::max(loaded->input->streams[loaded->videoIndex]->time_base.den, 1);
            return loaded;
        });
    AVStream& stream = *picture->input->streams[picture->videoIndex];

    // The picture format decides the codec and the decoding pixel format.
    media::checkCancelled(cancellation);
    PictureFormat format = pictureFormat(stream);

    // Reader, writer, encoder settings, track time base, in the order their failures rank.
    bool hevc = codec(format) == VideoCodec::hevc;
    const std::optional<int> matrix = format.matrixCoefficients;
    media::FrameTarget target{hevc ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P,
                              static_cast<int>(encodedPictureSide(format.width)),
                              static_cast<int>(encodedPictureSide(format.height)),
                              matrix ? static_cast<AVColorSpace>(*matrix) : AVCOL_SPC_UNSPECIFIED};
    media::FrameReader reader(*picture->input, picture->videoIndex, target);
    media::OutputFile file(destination, *interrupt);
    PictureSettings chosen = settings(format, info.frameRate);
    const std::int32_t timescale = trackTimescale(picture->naturalTimescale, picture->sampleTimescale);
    PictureEncoder encoder(chosen, timescale, stream, file);

    // Kept segments on the sample grid and their places on the cut timeline.
    std::vector<Segment> segments;
    MediaTime total(0, picture->sampleTimescale);
    for (const CutRegion& region : kept) {
        MediaTimeRange range = MediaTiming::range(region.start, region.end, picture->sampleTimescale);
        segments.push_back({range, total});
        total = total + range.duration();
    }

    // Start writing.
    media::checkCancelled(cancellation);
    encoder.start();

    // Frame loop: the current frame lasts until the look-ahead frame starts.
    std::size_t cursor = 0;
    MediaTime lastOutput = MediaTime::invalid();
    std::int64_t lastOutputPts = std::numeric_limits<std::int64_t>::min();
    std::int64_t readCount = 0;
    std::int64_t appendedCount = 0;
    const double duration = info.duration;
    media::Frame current = reader.next();
    while (current) {
        media::checkCancelled(cancellation);
        media::Frame next = reader.next();
        MediaTime pts = media::streamTime(current->pts, stream.time_base);
        MediaTime frameEnd =
            next ? media::streamTime(next->pts, stream.time_base) : lastFrameEnd(*current, stream);
        if (!pts.isNumeric() || !frameEnd.isNumeric() || !(frameEnd > pts))
            throw MediaError(L("原片画面时间戳无效，未交付此结果。"));

        while (cursor < segments.size() && segments[cursor].source.end <= pts) ++cursor;
        for (std::size_t k = cursor; k < segments.size() && segments[k].source.start < frameEnd; ++k) {
            const Segment& segment = segments[k];
            MediaTime s = segment.source.start >= pts ? segment.source.start : pts;
            MediaTime e = segment.source.end < frameEnd ? segment.source.end : frameEnd;
            if (!(e > s)) continue;
            MediaTime out = segment.offset + (s - segment.source.start);
            std::int64_t outPts = out.convertedTo(timescale).value;
            // Rounding matters only on the fallback timescale; the encoder needs rising times.
            if ((lastOutput.isNumeric() && !(out > lastOutput)) || outPts <= lastOutputPts)
                throw MediaError(L("剪后画面时间戳重复，未交付此结果。"));
            media::checkCancelled(cancellation);
            std::int64_t outEnd = (out + (e - s)).convertedTo(timescale).value;
            encoder.append(*current, outPts, std::max<std::int64_t>(outEnd - outPts, 1));
            ++appendedCount;
            lastOutput = out;
            lastOutputPts = outPts;
        }

        ++readCount;
        if (readCount % kFramesPerProgressReport == 0) {
            double fraction = frameEnd.seconds() * kProgressShare / duration;
            report(std::isnan(fraction) ? 0.0 : std::min(fraction, kProgressShare));
        }
        current = std::move(next);
    }

    // Finish: the one line of counts, the last progress, the trailer.
    media::checkCancelled(cancellation);
    if (appendedCount < 1) throw MediaError(L("保留区间中没有可导出的画面。"));
    std::fprintf(stderr, "linear-read %lld appended %lld\n", static_cast<long long>(readCount),
                 static_cast<long long>(appendedCount));
    report(kProgressShare);
    media::checkCancelled(cancellation);
    encoder.finish();
    media::checkCancelled(cancellation);
    file.commit();
    return total;
}

}  // namespace talvian::LinearVideoWriter
