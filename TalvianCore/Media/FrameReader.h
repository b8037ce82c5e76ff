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
    // (AV_NOPTS_VALUE when the file gives none); null after the last frame. Throws
    // MediaError (the cancellation sentence when the input's interrupt fired).
    Frame next();

  private:
    Frame converted(Frame decoded);

    AVFormatContext& input_;
    int streamIndex_;
    AVPixelFormat format_;
    CodecContext decoder_;
    Packet packet_;
    Scaler scaler_;
    bool draining_ = false;
};

}  // namespace talvian::media
