#include "FrameReader.h"

#include "Model/Localization.h"

namespace talvian::media {

FrameReader::FrameReader(AVFormatContext& input, int streamIndex, AVPixelFormat format)
    : input_(input), streamIndex_(streamIndex), format_(format), packet_(makePacket()) {
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
    if (decoded->format == format_) return decoded;
    const std::string action = L("转换原片画面格式");
    scaler_.reset(sws_getCachedContext(scaler_.release(), decoded->width, decoded->height,
                                       static_cast<AVPixelFormat>(decoded->format), decoded->width,
                                       decoded->height, format_, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler_) checked(AVERROR(ENOSYS), action);
    Frame output = makeFrame();
    output->format = format_;
    output->width = decoded->width;
    output->height = decoded->height;
    checked(av_frame_get_buffer(output.get(), 0), action);
    checked(av_frame_copy_props(output.get(), decoded.get()), action);
    output->color_range = AVCOL_RANGE_MPEG;  // the scaler writes video range into these formats
    checked(sws_scale(scaler_.get(), decoded->data, decoded->linesize, 0, decoded->height, output->data,
                      output->linesize),
            action);
    return output;
}

}  // namespace talvian::media
