#include "FrameReader.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>

#include "Model/Localization.h"

namespace talvian::media {

namespace {

// swscale's coefficient tables are numbered like FFmpeg's matrices; the ones it has no table
// for (unspecified, RGB) take its default.
int coefficientsOf(AVColorSpace matrix) {
    switch (matrix) {
        case AVCOL_SPC_BT709:
        case AVCOL_SPC_FCC:
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_SMPTE240M:
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return matrix;
        default:
            return SWS_CS_DEFAULT;
    }
}

// Fills the columns right of `width` and the rows below `height` of each plane with copies of
// the last ones the picture has, so an encoder that needs even sides sees no new edge.
void repeatLastColumnAndRow(AVFrame& frame, int width, int height) {
    if (width == frame.width && height == frame.height) return;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(frame.format));
    for (int plane = 0; plane < planes; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int shiftX = chroma ? descriptor->log2_chroma_w : 0;
        const int shiftY = chroma ? descriptor->log2_chroma_h : 0;
        const int usedWidth = AV_CEIL_RSHIFT(width, shiftX), usedHeight = AV_CEIL_RSHIFT(height, shiftY);
        const int fullWidth = AV_CEIL_RSHIFT(frame.width, shiftX),
                  fullHeight = AV_CEIL_RSHIFT(frame.height, shiftY);
        // Planar formats only: one component per plane, `step` bytes per sample.
        const int bytes = descriptor->comp[plane].step;
        std::uint8_t* data = frame.data[plane];
        const int stride = frame.linesize[plane];
        for (int y = 0; y < usedHeight; ++y) {
            std::uint8_t* row = data + static_cast<std::ptrdiff_t>(y) * stride;
            for (int x = usedWidth; x < fullWidth; ++x)
                std::memcpy(row + x * bytes, row + (usedWidth - 1) * bytes, bytes);
        }
        const std::uint8_t* last = data + static_cast<std::ptrdiff_t>(usedHeight - 1) * stride;
        for (int y = usedHeight; y < fullHeight; ++y)
            std::memcpy(data + static_cast<std::ptrdiff_t>(y) * stride, last,
                        static_cast<std::size_t>(fullWidth) * bytes);
    }
}

}  // namespace

FrameReader::FrameReader(AVFormatContext& input, int streamIndex, FrameTarget target)
    : input_(input), streamIndex_(streamIndex), target_(target), packet_(makePacket()) {
    const AVCodecParameters* parameters = input.streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    auto refuse = [] { return MediaError(L("系统无法顺序读取此画面格式。")); };
    if (!codec) throw refuse();
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), parameters) < 0) throw refuse();
    decoder_->pkt_timebase = input.streams[streamIndex]->time_base;
    decoder_->thread_count = 0;  // as many as the machine has
    if (avcodec_open2(decoder_.get(), codec, nullptr) < 0) throw refuse();
}

Frame FrameReader::next() {
    const std::string action = L("读取原片画面");
    // A reader that never started and one that stopped half-way say so in their own words.
    const std::string sentence = delivered_ ? L("画面读取未完整结束。") : L("无法开始读取画面。");
    Frame frame = makeFrame();
    for (;;) {
        int code = avcodec_receive_frame(decoder_.get(), frame.get());
        if (code == 0) {
            checkSize(*frame);
            frame->pts = frame->best_effort_timestamp;
            delivered_ = true;
            return converted(std::move(frame));
        }
        if (code == AVERROR_EOF) return nullptr;
        if (code != AVERROR(EAGAIN)) checked(code, action, sentence);
        if (draining_) return nullptr;

        code = av_read_frame(&input_, packet_.get());
        if (code == AVERROR_EOF) {
            draining_ = true;
            checked(avcodec_send_packet(decoder_.get(), nullptr), action, sentence);
            continue;
        }
        checked(code, action, sentence);
        if (packet_->stream_index == streamIndex_) code = avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
        checked(code, action, sentence);
    }
}

void FrameReader::checkSize(const AVFrame& frame) const {
    // The decoder has applied the stream's cropping (its clean aperture); a picture of any
    // other size would be read past its end by the encoder, which was opened for this one.
    const AVCodecParameters& parameters = *input_.streams[streamIndex_]->codecpar;
    if (frame.width == parameters.width && frame.height == parameters.height) return;
    const auto size = [](int width, int height) {
        return std::to_string(width) + "x" + std::to_string(height);
    };
    const std::string detail = "decoded picture " + size(frame.width, frame.height) + ", track " +
                               size(parameters.width, parameters.height);
    throw MediaError(L("画面裁边信息无效。"), detail);
}

Frame FrameReader::converted(Frame decoded) {
    // The common case costs nothing: the decoder's own frame in the encoder's format, size
    // and range.
    const bool fullRange = decoded->color_range == AVCOL_RANGE_JPEG;
    if (decoded->format == target_.format && !fullRange && decoded->width == target_.width &&
        decoded->height == target_.height)
        return decoded;
    const std::string action = L("转换原片画面格式");
    prepareScaler(*decoded);
    Frame output = makeFrame();
    output->format = target_.format;
    output->width = target_.width;
    output->height = target_.height;
    checked(av_frame_get_buffer(output.get(), 0), action);
    checked(av_frame_copy_props(output.get(), decoded.get()), action);
    output->color_range = AVCOL_RANGE_MPEG;
    // The picture keeps its own size in the top left corner of a larger frame.
    checked(sws_scale(scaler_.get(), decoded->data, decoded->linesize, 0, decoded->height, output->data,
                      output->linesize),
            action);
    repeatLastColumnAndRow(*output, decoded->width, decoded->height);
    return output;
}

void FrameReader::prepareScaler(const AVFrame& decoded) {
    const ScalerInput input{decoded.format, decoded.color_range == AVCOL_RANGE_JPEG, decoded.colorspace};
    if (scaler_ && input == scalerInput_) return;
    const std::string action = L("转换原片画面格式");
    scaler_.reset(sws_alloc_context());
    if (!scaler_) checked(AVERROR(ENOMEM), action);
    // The ranges are options of the context itself: set before it is initialised, they keep
    // it off the plain-copy path that a same-format, same-size conversion would otherwise take.
    SwsContext* context = scaler_.get();
    const bool optionsSet = av_opt_set_int(context, "srcw", decoded.width, 0) >= 0 &&
                            av_opt_set_int(context, "srch", decoded.height, 0) >= 0 &&
                            av_opt_set_int(context, "src_format", decoded.format, 0) >= 0 &&
                            av_opt_set_int(context, "dstw", decoded.width, 0) >= 0 &&
                            av_opt_set_int(context, "dsth", decoded.height, 0) >= 0 &&
                            av_opt_set_int(context, "dst_format", target_.format, 0) >= 0 &&
                            av_opt_set_int(context, "src_range", input.fullRange ? 1 : 0, 0) >= 0 &&
                            av_opt_set_int(context, "dst_range", 0, 0) >= 0 &&
                            av_opt_set_int(context, "sws_flags", SWS_BICUBIC, 0) >= 0;
    if (!optionsSet) checked(AVERROR(ENOSYS), action);
    checked(sws_init_context(context, nullptr, nullptr), action);
    // Pictures stored as RGB are turned into YUV by the matrix the file is tagged with; YUV
    // keeps its own coefficients (the converter does not change a YUV matrix).
    const int* sourceCoefficients = sws_getCoefficients(coefficientsOf(input.matrix));
    const int* targetCoefficients = sws_getCoefficients(coefficientsOf(target_.matrix));
    checked(sws_setColorspaceDetails(context, sourceCoefficients, input.fullRange ? 1 : 0, targetCoefficients,
                                     0, 0, 1 << 16, 1 << 16),
            action);
    scalerInput_ = input;
}

}  // namespace talvian::media
