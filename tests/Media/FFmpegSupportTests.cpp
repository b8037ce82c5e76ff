#include "Media/FFmpegSupport.h"

#include <gtest/gtest.h>

#include "Model/CoreTypes.h"

namespace talvian {
namespace {

TEST(FFmpegErrors, BecomeChineseSentences) {
    struct Case {
        int code;
        const char* message;
    };
    const Case cases[] = {
        {AVERROR(ENOSPC), "无法写入剪后画面：磁盘空间不足。"},
        {AVERROR(EACCES), "无法写入剪后画面：没有访问权限。"},
        {AVERROR_INVALIDDATA, "无法写入剪后画面：文件数据无效或已损坏。"},
        {AVERROR_ENCODER_NOT_FOUND, "无法写入剪后画面：缺少所需的编解码器。"},
        {AVERROR_EOF, "无法写入剪后画面：文件意外结束。"},
        {AVERROR_BUG, "无法写入剪后画面：媒体库内部出错（错误码 -558323010）。"},
        // The interrupt callback fired: the token was set.
        {AVERROR_EXIT, "任务已取消，原文件未改动。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(media::ffmpegError("写入剪后画面", c.code).message(), c.message);
    }
    EXPECT_EQ(media::checked(3, "写入剪后画面"), 3);
    EXPECT_THROW(media::checked(AVERROR(ENOMEM), "写入剪后画面"), MediaError);
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
