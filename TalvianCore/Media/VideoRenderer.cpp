#include "VideoRenderer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <optional>
#include <system_error>

#include "FFmpegSupport.h"
#include "MediaPreparation.h"
#include "Model/Localization.h"
#include "Model/Uuid.h"
#include "Support/FileSystem.h"

namespace talvian::VideoRenderer {

namespace {

constexpr double kSoundProgressStart = 0.68;
constexpr double kSoundProgressShare = 0.27;
constexpr double kMuxProgressStart = 0.96;
constexpr double kMuxProgressShare = 0.03;
// Mux progress moves in steps of this share, so a long file does not report per packet.
constexpr double kMuxProgressStep = 0.01;

// Both inputs and the one stream taken from each; owns everything the load touched.
struct MuxInputs {
    std::shared_ptr<media::Interrupt> interrupt;  // outlives the inputs pointing at it
    media::InputContext picture;
    media::InputContext sound;
    int videoIndex = -1;
    int audioIndex = -1;
};

// One input's stream on its way into the result: packets in decode order up to the cut,
// one packet read ahead so the last one is known as last.
class StreamCopy {
  public:
    StreamCopy(AVFormatContext& input, int index, AVStream& output, MediaTime end)
        : input_(input),
          index_(index),
          output_(output),
          end_(end),
          packet_(media::makePacket()),
          next_(media::makePacket()) {}

    // Makes the next packet that starts before the cut pending; false when none is left.
    bool advance() {
        if (!primed_) {
            primed_ = true;
            hasNext_ = read(*next_);
        }
        pending_ = hasNext_;
        if (!hasNext_) return false;
        av_packet_unref(packet_.get());
        av_packet_move_ref(packet_.get(), next_.get());
        hasNext_ = read(*next_);
        if (!hasNext_) completeLastDuration();
        trim();
        return true;
    }

    bool pending() const { return pending_; }
    // The pending packet's decode time, for interleaving and progress.
    MediaTime decodeTime() const {
        MediaTime dts = media::streamTime(packet_->dts, base());
        return dts.isNumeric() ? dts : media::streamTime(packet_->pts, base());
    }

    void write(AVFormatContext& output) {
        av_packet_rescale_ts(packet_.get(), base(), output_.time_base);
        packet_->stream_index = output_.index;
        packet_->pos = -1;
        int code = av_interleaved_write_frame(&output, packet_.get());
        av_packet_unref(packet_.get());
        pending_ = false;
        media::checked(code, L("合并音画"));
    }

  private:
    AVRational base() const { return input_.streams[index_]->time_base; }

    bool read(AVPacket& packet) {
        while (!finished_) {
            int code = av_read_frame(&input_, &packet);
            if (code == AVERROR_EOF) break;
            media::checked(code, L("读取导出画面或音轨"));
            if (packet.stream_index != index_) {
                av_packet_unref(&packet);
                continue;
            }
            MediaTime dts = media::streamTime(packet.dts, base());
            MediaTime pts = media::streamTime(packet.pts, base());
            if (dts.isNumeric() && dts >= end_) {
                // Decode order reached the cut: nothing later can be presented before it.
                av_packet_unref(&packet);
                break;
            }
            if (pts.isNumeric() && pts >= end_) {
                av_packet_unref(&packet);
                continue;
            }
            return true;
        }
        finished_ = true;
        return false;
    }

    // The last sample lasts to the stream's end. Behind an edit list the demuxer gives it no
    // duration, or (FFmpeg 5.1, a track that starts late) one clipped as if the track started at
    // zero; either way the muxer would end the track early by as much.
    void completeLastDuration() {
        const AVStream& stream = *input_.streams[index_];
        if (packet_->pts == AV_NOPTS_VALUE || stream.duration == AV_NOPTS_VALUE) return;
        std::int64_t start = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
        std::int64_t remaining = start + stream.duration - packet_->pts;
        if (remaining > packet_->duration) packet_->duration = remaining;
    }

    // A packet that runs past the cut ends at the cut.
    void trim() {
        MediaTime pts = media::streamTime(packet_->pts, base());
        if (!pts.isNumeric() || packet_->duration <= 0 || base().num != 1) return;
        MediaTime packetEnd = media::streamTime(packet_->pts + packet_->duration, base());
        if (!(packetEnd > end_)) return;
        MediaTime remaining = (end_ - pts).convertedTo(base().den);
        if (remaining.value > 0) packet_->duration = remaining.value;
    }

    AVFormatContext& input_;
    int index_;
    AVStream& output_;
    MediaTime end_;
    media::Packet packet_;
    media::Packet next_;
    bool primed_ = false;
    bool hasNext_ = false;
    bool pending_ = false;
    bool finished_ = false;
};

AVStream& addStream(AVFormatContext& output, const AVStream& input) {
    AVStream* stream = avformat_new_stream(&output, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, input.codecpar) < 0)
        throw MediaError(L("无法建立音画合并轨道。"));
    AVCodecParameters& parameters = *stream->codecpar;
    // Stream copy only: a codec the MPEG-4 muxer cannot hold would need re-encoding.
    if (avformat_query_codec(output.oformat, parameters.codec_id, FF_COMPLIANCE_NORMAL) != 1)
        throw MediaError(L("系统无法在保持编码的情况下合并音画。"));
    // Keep the input's sample entry ('hvc1') when MPEG-4 knows it for this codec.
    if (av_codec_get_id(output.oformat->codec_tag, parameters.codec_tag) != parameters.codec_id)
        parameters.codec_tag = 0;
    stream->time_base = input.time_base;
    return *stream;
}

}  // namespace

WorkFolder::WorkFolder(const std::filesystem::path& outputFolder)
    : folder_(makeWorkFolder(outputFolder / (".TalvianVideo-" + Uuid::random().string()))) {}

ProgressCallback soundProgress(ProgressCallback exportProgress) {
    return [exportProgress = std::move(exportProgress)](double fraction, const std::string& step) {
        if (exportProgress) exportProgress(kSoundProgressStart + kSoundProgressShare * fraction, step);
    };
}

void mux(const std::filesystem::path& picture, const std::filesystem::path& sound, MediaTime duration,
         const std::filesystem::path& destination, const CancellationToken& cancellation,
         const ProgressCallback& progress, Destination kind) {
    media::checkCancelled(cancellation);
    auto interrupt = std::make_shared<media::Interrupt>(cancellation);
    auto inputs = MediaPreparation::load<std::shared_ptr<MuxInputs>>(
        cancellation, [interrupt] { interrupt->abort(); },
        [picture, sound, interrupt, cancellation] {
            auto loaded = std::make_shared<MuxInputs>();
            loaded->interrupt = interrupt;
            loaded->picture = media::openInput(picture, *interrupt);
            loaded->videoIndex = media::firstStream(*loaded->picture, AVMEDIA_TYPE_VIDEO);
            if (loaded->videoIndex < 0) throw MediaError(L("无法读取导出画面或音轨。"));
            media::checkCancelled(cancellation);
            loaded->sound = media::openInput(sound, *interrupt);
            loaded->audioIndex = media::firstStream(*loaded->sound, AVMEDIA_TYPE_AUDIO);
            if (loaded->audioIndex < 0) throw MediaError(L("无法读取导出画面或音轨。"));
            return loaded;
        });
    media::checkCancelled(cancellation);
    if (!duration.isNumeric() || !(duration > MediaTime::zero()))
        throw MediaError(L("音画合并未完成，未交付此结果。"));

    media::OutputFile file(destination, *interrupt, kind);
    AVFormatContext& output = *file.context();
    const AVStream& videoInput = *inputs->picture->streams[inputs->videoIndex];
    AVStream& video = addStream(output, videoInput);
    AVStream& audio = addStream(output, *inputs->sound->streams[inputs->audioIndex]);
    media::copyDisplayMatrix(videoInput, video);
    av_dict_copy(&output.metadata, inputs->picture->metadata, 0);

    std::string text = L("合并音画");
    auto report = [&](double fraction) {
        if (progress) progress(kMuxProgressStart + kMuxProgressShare * fraction, text);
    };
    report(0);
    media::checkCancelled(cancellation);

    AVDictionary* options = nullptr;
    // The movie's timescale follows the picture track, so edit lists stay exact.
    std::string timescale = std::to_string(std::max(video.time_base.den, 1));
    av_dict_set(&options, "movflags", "+faststart", 0);
    av_dict_set(&options, "movie_timescale", timescale.c_str(), 0);
    av_dict_set(&options, "video_track_timescale", timescale.c_str(), 0);
    int code = avformat_write_header(&output, &options);
    av_dict_free(&options);
    media::checked(code, L("合并音画"));

    StreamCopy pictureCopy(*inputs->picture, inputs->videoIndex, video, duration);
    StreamCopy soundCopy(*inputs->sound, inputs->audioIndex, audio, duration);
    pictureCopy.advance();
    soundCopy.advance();
    double reported = 0;
    while (pictureCopy.pending() || soundCopy.pending()) {
        media::checkCancelled(cancellation);
        bool takePicture = pictureCopy.pending() &&
                           (!soundCopy.pending() || pictureCopy.decodeTime() <= soundCopy.decodeTime());
        StreamCopy& next = takePicture ? pictureCopy : soundCopy;
        double share = next.decodeTime().seconds() / duration.seconds();
        next.write(output);
        if (std::isfinite(share) && share - reported >= kMuxProgressStep) {
            reported = std::min(share, 1.0);
            report(reported);
        }
        next.advance();
    }
    media::checkCancelled(cancellation);
    media::checked(av_write_trailer(&output), L("合并音画"));
    media::checkCancelled(cancellation);
    file.commit();
}

}  // namespace talvian::VideoRenderer
