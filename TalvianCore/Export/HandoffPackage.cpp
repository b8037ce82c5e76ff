#include "HandoffPackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Model/FileNaming.h"
#include "Model/Localization.h"
#include "Model/ProjectJson.h"
#include "Support/FileSystem.h"
#include "Support/MediaFingerprint.h"
#include "Support/UnicodeText.h"

namespace talvian::EditorHandoff {

namespace {

// Progress fractions of the steps: check, copy, source verification, copy verification.
constexpr double kCopyStart = 0.1;
constexpr double kCopyShare = 0.5;
constexpr double kSourceCheckStart = 0.6;
constexpr double kCopyCheckStart = 0.78;
constexpr double kCheckShare = 0.18;
constexpr mode_t kPackageFolderMode = 0700;

constexpr const char* kMediaFolder = "media";
constexpr const char* kProjectFile = "review.quenlo.json";
constexpr const char* kManifestFile = "handoff.json";
constexpr int kManifestSchema = 1;

// ---- Text of the timeline -------------------------------------------------------------

// Rebuilds valid UTF-8 text, replacing every scalar `replace` picks with "_".
template <class Predicate>
std::string replacingScalars(std::string_view text, Predicate replace) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto scalar = scalarAt(text, i);
        if (replace(scalar.value))
            result.push_back('_');
        else
            result.append(text.substr(i, scalar.length));
        i += scalar.length;
    }
    return result;
}

// Characters XML 1.0 does not allow, and the C0 and C1 controls: a file name on Linux may
// hold any of them, and one of them would make the whole timeline unreadable.
bool unfitForXml(char32_t scalar) {
    return scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F) || scalar == 0xFFFE || scalar == 0xFFFF;
}

std::string xmlEscaped(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '"':
                result += "&quot;";
                break;
            case '\'':
                result += "&apos;";
                break;
            default:
                result.push_back(c);
        }
    }
    return result;
}

// Text from anywhere (a file name's bytes) as escaped XML 1.0 character data.
std::string xmlText(std::string_view text) {
    return xmlEscaped(replacingScalars(decodeLossy(text), unfitForXml));
}

// ---- Package files ----------------------------------------------------------------------

std::string instructions(const std::string& timelineName) {
    return L(
        "剪映11.6：在首页“本地草稿”旁点击“…” → “导入PR或FCP工程”，选择本包的“%@”。\n"
        "若未显示该入口：在全局设置的“草稿”页开启PR/FCP工程导入，再回首页操作。编辑窗口的“导入”是媒体入口，"
        "不用于此工程交接。\n"
        "剪映5.5：在全局设置启用“导入工程”，回首页选择“%@”。\n"
        "若剪映提示读取权限，请在系统文件面板选择本包的 media 文件夹。\n"
        "media 内保存完整原片，可以拉回片段边缘继续修改；整个目录一起移动。\n"
        "切点向外对齐整帧，可能多保留少量停顿。8ms 音频淡入淡出不传递，请复核接缝。\n"
        "搬移后剪映若提示“链接媒体”，点击“链接媒体”，选择本包的 media "
        "文件夹；保持“链接文件夹时自动匹配丢失媒体”"
        "勾选。\n"
        "review.quenlo.json 可用新版 Talvian 打开；整个包搬移后自动校验并关联包内原片，无需手改路径。\n"
        "若把复核项目另存到包外，它将使用当前原片的绝对路径；下次搬移请继续保留整个交接包。\n"
        "DaVinci Resolve：先用“文件 → 导入 → 媒体”选择 media 文件夹里的原片，再用“文件 → 导入 → "
        "时间线”选择本包的 "
        ".fcpxml 文件，并取消勾选“自动将源片段导入媒体池”。\n"
        "此功能仍为试验。已实测剪映 Mac 5.5.0、11.6.0 的 30fps H.264 合成 SDR 测试片，以及 DaVinci Resolve "
        "21（App "
        "Store 版）；其他版本与真实长片尚未完成验证。",
        timelineName, timelineName);
}

nlohmann::json manifest(const EditorHandoffPlan& plan, const CutProject& packaged,
                        const std::string& mediaEntry, std::int64_t sourceBytes,
                        const std::string& sourceDigest, const std::string& timelineName,
                        const std::string& timelineDigest) {
    auto ranges = nlohmann::json::array();
    for (const auto& range : plan.ranges) ranges.push_back(nlohmann::json::array({range.start, range.end}));
    auto document = nlohmann::json::object();
    document["experimental"] = true;
    document["fps"] =
        std::to_string(plan.frameRate.numerator) + "/" + std::to_string(plan.frameRate.denominator);
    document["limitations"] = nlohmann::json::array({
        "Experimental CFR Rec709 single-video mono/stereo-audio handoff",
        "FCPXML uses absolute paths; after moving, relink media folder in editor",
        "8ms audio fades are not transferred",
        "Native acceptance used 30fps H264 synthetic media, not creator footage",
    });
    document["media"] = mediaEntry;
    document["output_duration_seconds"] = plan.duration();
    document["output_frames"] = plan.outputFrames();
    document["requested_duration_seconds"] = plan.requestedDuration;
    document["retained_frame_ranges"] = std::move(ranges);
    document["review_project_version"] = packaged.version;
    document["review_source_resolution"] = "package-relative; full SHA256 verification on open";
    document["rounding"] = "retain outwards; merge overlaps after snapping";
    document["schema"] = kManifestSchema;
    document["source_bytes"] = sourceBytes;
    document["source_frames"] = plan.sourceFrames;
    document["source_sha256"] = sourceDigest;
    document["verified_editor"] = "Jianying macOS 5.5.0 and 11.6.0; 30fps H264 synthetic SDR sample only";
    document["xml"] = timelineName;
    document["xml_sha256"] = timelineDigest;
    return document;
}

void report(const ProgressCallback& progress, double fraction, const std::string& step) {
    if (progress) progress(fraction, step);
}

MediaError changedDuringHandoff() {
    return MediaError(L("原片在交接过程中发生变化，已取消生成。请重新分析后再试。"));
}

}  // namespace

std::string fileURL(const std::filesystem::path& path) {
    // RFC 3986 path characters stay; everything else, every non-ASCII byte included, is encoded.
    static constexpr std::string_view kKept = "-._~!$&'()*+,;=:@/";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) && c < 0x80)
            url.push_back(static_cast<char>(c));
        else if (kKept.find(static_cast<char>(c)) != std::string_view::npos)
            url.push_back(static_cast<char>(c));
        else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 0x0F]);
        }
    }
    return url;
}

std::string xml(const EditorHandoffPlan& plan, const std::filesystem::path& media) {
    const auto& rate = plan.frameRate;
    const auto name = xmlText(media.filename().string());
    const auto title = xmlText(L("粗剪交接"));
    std::string text;
    text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text += "<!DOCTYPE fcpxml>\n";
    text += "<fcpxml version=\"1.9\">\n";
    text += "  <resources>\n";
    text += "    <format id=\"r1\" frameDuration=\"" + rate.time(1) + "\" width=\"" +
            std::to_string(plan.width) + "\" height=\"" + std::to_string(plan.height) +
            "\" colorSpace=\"1-1-1 (Rec. 709)\"/>\n";
    text += "    <asset id=\"r2\" name=\"" + name + "\" start=\"0s\" duration=\"" +
            rate.time(plan.sourceFrames) +
            "\" hasVideo=\"1\" format=\"r1\" hasAudio=\"1\" audioSources=\"1\" audioChannels=\"" +
            std::to_string(plan.channels) + "\" audioRate=\"" + std::to_string(plan.sampleRate) + "\">\n";
    text += "      <media-rep kind=\"original-media\" src=\"" + xmlText(fileURL(media)) + "\"/>\n";
    text += "    </asset>\n";
    text += "  </resources>\n";
    text += "  <library><event name=\"Talvian\"><project name=\"" + name + " " + title + "\">\n";
    text += "    <sequence format=\"r1\" duration=\"" + rate.time(plan.outputFrames()) +
            "\" tcStart=\"0s\" tcFormat=\"NDF\" audioLayout=\"stereo\" audioRate=\"48k\">\n";
    text += "      <spine>\n";
    std::int64_t offset = 0;
    for (std::size_t k = 0; k < plan.ranges.size(); ++k) {
        const auto& range = plan.ranges[k];
        text += "        <asset-clip name=\"" + xmlText(L("保留段 %@", std::to_string(k + 1))) +
                "\" ref=\"r2\" offset=\"" + rate.time(offset) + "\" start=\"" + rate.time(range.start) +
                "\" duration=\"" + rate.time(range.count()) + "\" audioRole=\"dialogue\"/>\n";
        offset += range.count();
    }
    text += "      </spine>\n";
    text += "    </sequence>\n";
    text += "  </project></event></library>\n";
    text += "</fcpxml>\n";
    return text;
}

std::string xmlFilename(const std::filesystem::path& source) {
    auto stem = decodeLossy(source.filename().stem().string());
    stem = replacingScalars(stem, [](char32_t scalar) {
        auto type = u_charType(static_cast<UChar32>(scalar));
        return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR || scalar == '/' || scalar == ':';
    });
    stem = leadingCharacters(trimmed(stem, "."), kTimelineStemBytes);
    if (stem.empty()) stem = L("口播素材");
    return stem + "-" + L("粗剪") + ".fcpxml";
}

EditorHandoffResult exportPackage(const CutProject& project, const std::filesystem::path& destination,
                                  const CancellationToken& cancellation, const ProgressCallback& progress) {
    const auto token = cancellation ? cancellation : makeCancellation();
    auto folder = destination.lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    struct stat existing {};
    if (!folder.is_absolute() || folder == folder.root_path() || ::lstat(folder.c_str(), &existing) == 0)
        throw MediaError(L("交接文件夹已存在，请换一个名称；已有文件不会覆盖。"));

    report(progress, 0.0, L("正在检查色彩、帧率和切点…"));
    const auto plan = prepare(project, token);
    const auto source = resolvedPath(project.source);
    const auto before = readMetadata(source);
    token->check();

    if (::mkdir(folder.c_str(), kPackageFolderMode) != 0)
        throw MediaError(L("无法新建交接文件夹。请检查路径、空间或同名文件。"));
    try {
        const auto mediaFolder = folder / kMediaFolder;
        if (::mkdir(mediaFolder.c_str(), 0777) != 0) throw fileError(L("新建"), mediaFolder, errno);
        const auto name = source.filename().string();
        const auto copy = mediaFolder / name;

        // Copy with a running digest, polling the token before every piece.
        std::string copyDigest;
        std::int64_t copied = 0;
        {
            UniqueFd output(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
            if (!output) throw MediaError(L("无法创建原片副本。"));
            UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
            if (!input) throw fileError(L("读取"), source, errno);
            const double total = std::max<double>(static_cast<double>(before.bytes), 1);
            auto result = MediaFingerprint::copyWithDigest(
                input.get(), source, output.get(), copy, *token, [&](std::int64_t bytes) {
                    report(progress,
                           kCopyStart + kCopyShare * std::min(static_cast<double>(bytes) / total, 1.0),
                           L("正在复制完整原片…"));
                });
            copied = result.bytes;
            if (::fsync(output.get()) != 0) throw fileError(L("写入"), copy, errno);
            if (int code = output.reset(); code != 0) throw fileError(L("写入"), copy, code);
            input.reset();
            copyDigest = result.sha256;
        }

        auto sourceDigest = MediaFingerprint::sha256(source, *token, [&](double fraction) {
            report(progress, kSourceCheckStart + kCheckShare * fraction, L("正在校验原片未改变…"));
        });
        auto copyRehash = MediaFingerprint::sha256(copy, *token, [&](double fraction) {
            report(progress, kCopyCheckStart + kCheckShare * fraction, L("正在校验原片副本…"));
        });
        const auto after = readMetadata(source);
        if (copied != before.bytes || after.bytes != before.bytes || after.modifiedAt != before.modifiedAt ||
            sourceDigest != copyDigest || copyRehash != copyDigest)
            throw changedDuringHandoff();
        project.validateSource();
        token->check();

        const auto timelineName = xmlFilename(source);
        const auto timeline = xml(plan, copy);
        writeNewFile(folder / timelineName, timeline);

        const auto copyMetadata = readMetadata(copy);
        CutProject packaged = project;
        packaged.version = project.versionForBase(CutProject::kBasePackaged);
        packaged.source = copy.string();
        packaged.sourceBytes = copyMetadata.bytes;
        packaged.modifiedAt = copyMetadata.modifiedAt;
        packaged.packagedSource = PackagedSource{std::string(kMediaFolder) + "/" + name, copyDigest};
        packaged.sourceSHA256.reset();
        writeNewFile(folder / kProjectFile, ProjectJson::encode(packaged));

        auto document =
            manifest(plan, packaged, std::string(kMediaFolder) + "/" + name, before.bytes, copyDigest,
                     timelineName, MediaFingerprint::sha256(std::string_view(timeline)));
        writeNewFile(folder / kManifestFile, StrictJson::dump(document, StrictJson::Style::pretty));
        writeNewFile(folder / (L("导入说明") + ".txt"), instructions(timelineName));
        token->check();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        throw;
    }

    report(progress, 1.0, L("交接包已生成，原片与切点均已保留。"));
    return EditorHandoffResult{folder, folder / xmlFilename(source), plan.duration(),
                               static_cast<std::int64_t>(plan.ranges.size())};
}

}  // namespace talvian::EditorHandoff
