#pragma once
// Decodes one picture stream of an open input in presentation order (internal to Media/).
// Frames come out as the encoder takes them: in its pixel format, at its picture size and in
// video range. A decoded frame that already is so passes through untouched; any other is
// converted once.

#include "FFmpegSupport.h"

namespace talvian::media {

// What the frames must be for the encoder.
struct FrameTarget {
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    // At least the stream's size: the columns and rows beyond it repeat the last ones.
    int width = 0;
    int height = 0;
    // The matrix the written file is tagged with (a picture converted from RGB uses it);
    // unspecified: the converter's default.
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
};

class FrameReader {
  public:
    // Throws MediaError "系统无法顺序读取此画面格式。" when no decoder can be opened.
    FrameReader(AVFormatContext& input, int streamIndex, FrameTarget target);

    // The next frame with `pts` set to its presentation time in the stream's time base
    // (AV_NOPTS_VALUE when the file gives none); null after the last frame. Every frame has
    // the target's size, format and video range. Throws OperationCancelled when the input's
    // interrupt fired; MediaError for a read or decode failure ("无法开始读取画面。" before the
    // first frame, "画面读取未完整结束。" after it, unless FFmpeg gives a reason the user can act
    // on) and "画面裁边信息无效。" for a picture whose visible size is not the stream's.
    Frame next();

  private:
    void checkSize(const AVFrame& frame) const;
    Frame converted(Frame decoded);
    // Makes the scaler for frames like `decoded`, unless the current one is for such frames.
    void prepareScaler(const AVFrame& decoded);

    AVFormatContext& input_;
    int streamIndex_;
    FrameTarget target_;
    CodecContext decoder_;
    Packet packet_;
    Scaler scaler_;
    // The decoded frames the scaler was made for: format, range and matrix (size is the stream's).
    struct ScalerInput {
        int format = AV_PIX_FMT_NONE;
        bool fullRange = false;
        AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
        bool operator==(const ScalerInput&) const = default;
    } scalerInput_;
    bool draining_ = false;
    bool delivered_ = false;  // a frame has come out
};

}  // namespace talvian::media
