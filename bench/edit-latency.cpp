// edit-latency: the time of one edit of the controller (the edit, its undo record and the
// session-backup rewrite), of one undo and of toggling all pauses, for projects of 1,000 and
// 9,999 pauses, with a real session backup in a temporary folder.
//
// Usage: edit-latency [ROUNDS]   (default 200 rounds per measurement)

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchProject.h"
#include "Model/FileNaming.h"
#include "Player/MpvPlayer.h"
#include "Workspace/Workspace.h"

using namespace talvian;
namespace fs = std::filesystem;

namespace {

struct Figures {
    double median = 0;
    double maximum = 0;
};

Figures summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

CutProject makeProject(const fs::path& source, int pauses) {
    CutProject project = bench::benchProject(source, pauses * 2.0 + 1);
    for (int i = 0; i < pauses; ++i) project.cuts.emplace_back(i * 2.0 + 0.5, i * 2.0 + 1.5, true);
    return project;
}

void measure(int pauses, int rounds, const fs::path& folder) {
    const fs::path source = folder / ("talk-" + std::to_string(pauses) + ".wav");
    std::ofstream(source) << "x";
    const CutProject project = makeProject(source, pauses);
    // The application's player, without a sound device: every edit re-plans its skips.
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayerFactory players(settings);
    Workspace workspace(players, folder / ("Recovery-" + std::to_string(pauses)) / "last-session.quenlo.json",
                        {},
                        [project](const fs::path&, const CutOptions&, const CancellationToken&,
                                  const ProgressCallback&) { return project; });
    workspace.loadSource(source, true);
    while (workspace.job().busy) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!workspace.document().project || !workspace.document().sessionBackupSaved) {
        std::fprintf(stderr, "the project was not installed and backed up\n");
        std::exit(1);
    }
    std::vector<double> edits, undos, toggles;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        const Uuid id =
            workspace.document().project->cuts[static_cast<std::size_t>(round * 7919 % pauses)].id;
        clock.start();
        workspace.toggleCut(id);
        edits.push_back(clock.nsecsElapsed() / 1e6);
        clock.start();
        workspace.undoCut();
        undos.push_back(clock.nsecsElapsed() / 1e6);
    }
    for (int round = 0; round < std::max(rounds / 10, 5); ++round) {
        clock.start();
        workspace.setAllCuts(round % 2 == 0 ? false : true);
        toggles.push_back(clock.nsecsElapsed() / 1e6);
    }
    const auto edit = summarise(edits), undo = summarise(undos), toggle = summarise(toggles);
    std::printf(
        "%5d pauses  edit median %6.2f ms max %6.2f ms | undo median %6.2f ms max %6.2f ms | "
        "toggle all median %6.2f ms max %6.2f ms\n",
        pauses, edit.median, edit.maximum, undo.median, undo.maximum, toggle.median, toggle.maximum);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const int rounds = bench::rounds(argc, argv, 200);
    const fs::path folder = bench::scratchFolder("edit-latency");
    if (folder.empty()) return 1;
    std::printf("targets: 1,000 pauses median <= 5 ms, max <= 16 ms; 9,999 pauses median <= 40 ms\n");
    measure(1000, rounds, folder);
    measure(9999, rounds, folder);
    fs::remove_all(folder);
    return 0;
}
