#include "Media/FFmpegSupport.h"

#include <gtest/gtest.h>

#include <string>

#include "Model/CoreTypes.h"

namespace talvian {
namespace {

// The sentence and the diagnostics of the error an FFmpeg code becomes.
struct Translated {
    std::string message;
    std::string diagnostics;
    bool cancelled = false;
};

Translated translated(int code, const std::string& sentence = {}) {
    try {
        std::rethrow_exception(media::ffmpegError("写入剪后画面", code, sentence));
    } catch (const OperationCancelled& error) {
        return {error.message(), error.diagnostics(), true};
    } catch (const MediaError& error) {
        return {error.message(), error.diagnostics(), false};
    }
}

TEST(FFmpegErrors, BecomeChineseSentencesWithFFmpegsWordsInTheDiagnostics) {
    struct Case {
        int code;
        const char* message;
        const char* sentence;  // the step's own sentence, when it has one
    };
    const Case cases[] = {
        {AVERROR(ENOSPC), "无法写入剪后画面：磁盘空间不足。", ""},
        {AVERROR(EACCES), "无法写入剪后画面：没有访问权限。", "画面写入已停止。"},
        {AVERROR_INVALIDDATA, "无法写入剪后画面：文件数据无效或已损坏。", ""},
        {AVERROR_ENCODER_NOT_FOUND, "无法写入剪后画面：缺少所需的编解码器。", ""},
        {AVERROR_EOF, "无法写入剪后画面：文件意外结束。", ""},
        // Codes that only say the library failed: the step's sentence, no number in it.
        {AVERROR_BUG, "无法写入剪后画面。", ""},
        {AVERROR(EINVAL), "无法写入剪后画面。", ""},
        {AVERROR_EXTERNAL, "画面写入已停止。", "画面写入已停止。"},
        {AVERROR(EINVAL), "画面编码未完整结束。", "画面编码未完整结束。"},
        {AVERROR(EHWPOISON), "无法写入剪后画面：读写出错。", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const Translated error = translated(c.code, c.sentence);
        EXPECT_EQ(error.message, c.message);
        EXPECT_FALSE(error.cancelled);
        EXPECT_NE(error.diagnostics.find(std::to_string(c.code)), std::string::npos) << error.diagnostics;
        EXPECT_EQ(error.message.find("错误码"), std::string::npos);
    }
    // The interrupt callback fired: the token was set.
    const Translated interrupted = translated(AVERROR_EXIT, "画面写入已停止。");
    EXPECT_TRUE(interrupted.cancelled);
    EXPECT_EQ(interrupted.message, "任务已取消，原文件未改动。");

    EXPECT_EQ(media::checked(3, "写入剪后画面"), 3);
    EXPECT_THROW(media::checked(AVERROR(ENOMEM), "写入剪后画面"), MediaError);
    EXPECT_THROW(media::checked(AVERROR_EXIT, "写入剪后画面"), OperationCancelled);
}

TEST(FFmpegErrors, StreamTimesKeepTheirTimeBaseExactly) {
    EXPECT_EQ(media::streamTime(1001, {1, 30000}), MediaTime(1001, 30000));
    EXPECT_EQ(media::streamTime(3, {1001, 30000}), MediaTime(3003, 30000));
    EXPECT_FALSE(media::streamTime(AV_NOPTS_VALUE, {1, 25}).isNumeric());
    EXPECT_FALSE(media::streamTime(5, {0, 1}).isNumeric());
    EXPECT_FALSE(media::streamTime(INT64_MAX / 2, {1001, 30000}).isNumeric());
}

}  // namespace
}  // namespace talvian
