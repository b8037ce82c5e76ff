#pragma once
// Decodes one picture stream of an open input in presentation order (internal to Media/).
// Frames come out in the pixel format asked for; a conversion happens only when the
// decoder delivers another format.

#include "FFmpegSupport.h"

namespace talvian::media {

class FrameReader {
  public:
    // Throws MediaError "系统无法顺序读取此画面格式。" when no decoder can be opened.
    FrameReader(AVFormatContext& input, int streamIndex, AVPixelFormat format);

    // The next frame with `pts` set to its presentation time in the stream's time base
    // (AV_NOPTS_VALUE when the file gives none); null after the last frame. Every frame has
    // the stream's picture size. Throws OperationCancelled when the input's interrupt fired;
    // MediaError for a read or decode failure ("无法开始读取画面。" before the first frame,
    // "画面读取未完整结束。" after it, unless FFmpeg gives a reason the user can act on) and
    // "画面裁边信息无效。" for a picture whose visible size is not the stream's.
    Frame next();

  private:
    void checkSize(const AVFrame& frame) const;
    Frame converted(Frame decoded);

    AVFormatContext& input_;
    int streamIndex_;
    AVPixelFormat format_;
    CodecContext decoder_;
    Packet packet_;
    Scaler scaler_;
    bool draining_ = false;
    bool delivered_ = false;  // a frame has come out
};

}  // namespace talvian::media
