#pragma once
// The detail loader's judgement of an ffprobe answer that is already parsed (the analysis's own
// probe, or a test's), apart from DetailWaveform.h so that its readers need no JSON library.

#include <nlohmann/json_fwd.hpp>

#include "Analysis/DetailWaveform.h"

namespace talvian::DetailWaveform {

// What `probeQuery()`'s answer (or the first audio stream's part of a whole-file answer) says
// about the source's first audio track. Throws MediaError "无法读取局部波形的音轨。" when the
// channel count is unusable.
SourceAudio sourceAudio(const nlohmann::json& answer);

}  // namespace talvian::DetailWaveform
