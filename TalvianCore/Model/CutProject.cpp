#include "CutProject.h"

#include <cerrno>
#include <cmath>
#include <string_view>
#include <system_error>

#include "CutMath.h"
#include "FileNaming.h"
#include "Localization.h"
#include "Support/FileSystem.h"
#include "Support/NumberText.h"

namespace talvian {

namespace {

constexpr std::size_t kDigestLength = 64;

bool isLowercaseDigest(std::string_view text) {
    if (text.size() != kDigestLength) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

[[noreturn]] void invalidFormat() {
    throw MediaError(L("项目文件格式无效。"));
}

// "%.1f" with a point, then every "-" as the minus sign U+2212.
std::string thresholdText(double value) {
    std::string result;
    for (char c : fixedDecimal(value, 1)) {
        if (c == '-')
            result += "\u2212";
        else
            result += c;
    }
    return result;
}

}  // namespace

void PackagedSource::validate() const {
    std::string_view path = relativePath;
    auto slash = path.find('/');
    bool valid = slash != std::string_view::npos && path.find('/', slash + 1) == std::string_view::npos;
    if (valid) {
        std::string_view folder = path.substr(0, slash);
        std::string_view name = path.substr(slash + 1);
        valid = folder == "media" && !name.empty() && name != "." && name != ".." &&
                path.find('\0') == std::string_view::npos && isLowercaseDigest(sha256);
    }
    if (!valid) throw MediaError(L("交接包的素材引用无效。请保留完整的 media 文件夹。"));
}

std::int64_t CutProject::versionForBase(std::int64_t base) const {
    return options.paddingRight ? base + kRightPaddingVersionOffset : base;
}

double CutProject::removedDuration() const {
    return CutMath::removedSeconds(cuts, info.duration);
}

double CutProject::keptDuration() const {
    return std::max(0.0, info.duration - removedDuration());
}

std::optional<std::string> CutProject::quietRecordingHint() const {
    if (options.mode != DetectionMode::fixed || !effectiveThresholdDB ||
        !(options.thresholdDB > *effectiveThresholdDB))
        return std::nullopt;
    return L("这段录音音量较轻，静音阈值已降至 %@ dB。", thresholdText(*effectiveThresholdDB));
}

void CutProject::validateStructure() const {
    if (version < kMinimumVersion || version > kMaximumVersion) invalidFormat();
    const bool hasRightPadding = options.paddingRight.has_value();
    if ((version > kRightPaddingVersionOffset) != hasRightPadding) invalidFormat();
    const std::int64_t base =
        version > kRightPaddingVersionOffset ? version - kRightPaddingVersionOffset : version;
    if (base == kBaseFixedPath && options.mode != DetectionMode::fixed) invalidFormat();
    if (packagedSource.has_value() != (base == kBasePackaged)) invalidFormat();
    if (!source.starts_with('/') || !isNamablePath(source)) invalidFormat();
    if (!std::isfinite(info.duration) || !(info.duration > 0)) invalidFormat();
    if (sourceSHA256) {
        if (base != kBaseDigest || !isLowercaseDigest(*sourceSHA256)) invalidFormat();
    } else if (base == kBaseDigest) {
        invalidFormat();
    }
    if (effectiveThresholdDB &&
        (!std::isfinite(*effectiveThresholdDB) || !(*effectiveThresholdDB <= options.thresholdDB)))
        invalidFormat();
    if (cuts.size() > kMaximumCuts || waveform.size() > kMaximumWaveformValues) invalidFormat();
    for (const auto& cut : cuts) {
        bool valid = std::isfinite(cut.start) && cut.start >= 0 && std::isfinite(cut.end) &&
                     cut.end <= info.duration + kCutEndTolerance && cut.start < cut.end;
        if (!valid) invalidFormat();
    }
    for (double value : waveform)
        if (!std::isfinite(value) || value < 0 || value > 1) invalidFormat();
    options.validate();
    if (packagedSource) packagedSource->validate();
}

void CutProject::validateSource() const {
    validateStructure();
    SourceMetadata metadata;
    try {
        metadata = SourceMetadata::read(source);
    } catch (const std::system_error& error) {
        int code = error.code().value();
        if (code == ENOENT || code == ENOTDIR) throw MissingProjectSource(source, canRelocateSource(), false);
        // Any other errno reaches the user as a Chinese sentence, never as system text.
        throw fileError(L("读取"), source, code);
    }
    if (metadata.bytes == sourceBytes && std::fabs(metadata.modifiedAt - modifiedAt) < kModifiedAtTolerance)
        return;
    throwChangedSource();
}

void CutProject::throwChangedSource() const {
    if (sourceSHA256) throw ChangedProjectSource(source);
    throw MediaError(L("源文件已变化，请重新导入并分析，避免用旧时间点剪错内容。"));
}

}  // namespace talvian
