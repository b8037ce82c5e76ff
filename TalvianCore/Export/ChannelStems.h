#pragma once
// One verified mono WAV per physical channel of an exported multichannel file, so that an
// editor can lay each channel on a track of its own. The input file is never written.

#include <filesystem>
#include <string>

#include "Model/CoreTypes.h"

namespace talvian::ChannelStems {

// Stem files are "声道-01.wav", "声道-02.wav" … (32-bit float, RF64 only when needed).
std::string stemFileName(int channel);

// Splits `input` (three or more channels, exactly one audio track) into a new folder
// `folder` (created with mode 0700; it must not exist): the stems, a manifest with the
// SHA-256 of the input and of every stem, and an instructions text. While unfinished the
// folder holds the marker "未完成.txt"; a failure after the folder exists keeps it, with its
// marker and whatever was written, and reports where it is, as a MediaError
// "声道文件未完成，原文件未改动。未完成文件保留在：<folder>\n<reason>" (reason: describeError of
// the failure, its diagnostics carried over; a cancellation too). Earlier failures throw
// "请选择本机文件和输出位置。", "分声道需要恰好一条音轨；多音轨文件请分别处理。",
// "此文件不是多声道文件，无需分声道。", "无法读取导出文件。",
// "无法新建声道文件夹；同名文件不会被覆盖。", OperationCancelled or the probe, runner and
// read errors. Returns `folder`. Progress 0 … 1 with step texts. Background thread; blocking.
std::filesystem::path exportStems(const std::filesystem::path& input, const std::filesystem::path& folder,
                                  const CancellationToken& cancellation,
                                  const ProgressCallback& progress = {});

}  // namespace talvian::ChannelStems
