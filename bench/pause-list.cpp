// pause-list: what the pause list costs with a 60-minute recording of 9,999 pauses, shown in a
// 360 × 720 panel under the offscreen platform: the refresh after one edit (a flipped pause,
// the list's model update and the repaint that follows) and scrolling a newly reviewed pause to
// the top (its row widget placed and the list repainted); as the reference the same refresh of
// a 100-pause project, measured in the same run. Also the memory the list holds.
//
// Usage: pause-list [ROUNDS]   (default 100 rounds per measurement)

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <malloc.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchProject.h"
#include "Kit/Studio.h"
#include "Model/FileNaming.h"
#include "Player/MpvPlayer.h"
#include "Views/PauseListPanel.h"
#include "Views/PauseListView.h"
#include "Workspace/Workspace.h"

using namespace talvian;
namespace fs = std::filesystem;

namespace {

using bench::median;
using bench::milliseconds;

constexpr double kSourceSeconds = 3600;
constexpr int kWidth = 360;
constexpr int kHeight = 720;

CutProject makeProject(const fs::path& source, int pauses) {
    CutProject project = bench::benchProject(source, kSourceSeconds);
    const double spacing = kSourceSeconds / pauses;
    for (int i = 0; i < pauses; ++i)
        project.cuts.emplace_back(i * spacing + 0.05, i * spacing + 0.05 + spacing * 0.4, i % 7 != 0);
    return project;
}

struct Figures {
    double refresh = 0;     // ms, the list's part after the controller's edit
    double edit = 0;        // ms, the controller's edit itself
    double scroll = 0;      // ms
    double listMemory = 0;  // MB held by the panel and its list
};

Figures measure(const char* label, int pauses, int rounds, const fs::path& folder, PlayerFactory& players,
                bool scrolls) {
    const fs::path source = folder / (std::string("talk-") + label + ".wav");
    std::ofstream(source) << "x";
    const CutProject project = makeProject(source, pauses);
    // No session backup: its file writes are the controller's cost, measured by edit-latency.
    Workspace workspace(players, std::nullopt, {},
                        [project](const fs::path&, const CutOptions&, const CancellationToken&,
                                  const ProgressCallback&) { return project; });
    workspace.loadSource(source, true);
    while (workspace.job().busy) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!workspace.document().project || workspace.document().project->cuts.size() != project.cuts.size()) {
        std::fprintf(stderr, "%s: the project was not installed\n", label);
        std::exit(1);
    }
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();

    auto* panel = new PauseListPanel(workspace);
    panel->resize(kWidth, kHeight);
    panel->show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    Figures figures;
    // The list's memory: what a second panel over the same project adds to the heap, built,
    // laid out and painted (the first one loaded the fonts, symbols and style).
    {
        const std::size_t before = mallinfo2().uordblks;
        PauseListPanel second(workspace);
        second.resize(kWidth, kHeight);
        second.show();
        QCoreApplication::sendPostedEvents();
        second.repaint();
        // Signed: other work may free memory meanwhile, and then the panel adds nothing to count.
        const auto added = static_cast<double>(mallinfo2().uordblks) - static_cast<double>(before);
        figures.listMemory = std::max(0.0, added) / (1024.0 * 1024.0);
    }

    PauseListView& list = panel->list();
    const auto ids = [&] {
        std::vector<Uuid> list;
        for (const auto& region : workspace.document().project->cuts) list.push_back(region.id);
        return list;
    }();

    // A refresh after one edit: a pause in view flips; the panel refreshes after the signal.
    std::vector<double> edits;
    std::vector<double> refreshes;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        const Uuid& id = ids[static_cast<std::size_t>(round % 5)];
        const auto before = workspace.document().project->cuts[static_cast<std::size_t>(round % 5)].remove;
        clock.start();
        workspace.toggleCut(id);
        edits.push_back(milliseconds(clock));
        clock.start();
        QCoreApplication::sendPostedEvents();
        list.viewport()->repaint();
        refreshes.push_back(milliseconds(clock));
        if (panel->model().cut(round % 5).remove == before) {
            std::fprintf(stderr, "%s: the list did not follow the edit\n", label);
            std::exit(1);
        }
    }
    figures.edit = median(edits);
    figures.refresh = median(refreshes);

    // Scrolling the newly reviewed pause to the top, anywhere in the list.
    if (scrolls) {
        std::vector<double> scrollsTaken;
        for (int round = 0; round < rounds; ++round) {
            const std::size_t target = (static_cast<std::size_t>(round) * 97 + 13) % ids.size();
            workspace.selectCutRow(ids[target], false, false);
            clock.start();
            QCoreApplication::sendPostedEvents();
            list.viewport()->repaint();
            scrollsTaken.push_back(milliseconds(clock));
            const QRect rect = list.rowRect(static_cast<int>(target));
            const bool atTop = rect.top() == PauseListView::kRowSpacing;
            const bool atEnd = list.verticalScrollBar()->value() == list.verticalScrollBar()->maximum();
            if (!atTop && !atEnd) {
                std::fprintf(stderr, "%s: row %zu is not at the top\n", label, target);
                std::exit(1);
            }
        }
        figures.scroll = median(scrollsTaken);
    }
    const QByteArray shots = qgetenv("TALVIAN_VIEW_SHOTS");
    if (!shots.isEmpty()) panel->grab().save(QString::fromUtf8(shots) + "/pause-list-" + label + ".png");
    delete panel;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Studio::applyToApplication(application);
    const int rounds = bench::rounds(argc, argv, 100);
    const fs::path folder = bench::scratchFolder("pause-list");
    if (folder.empty()) return 1;
    MpvSettings settings;
    settings.audioOutput = "null";
    MpvPlayerFactory players(settings);

    std::printf(
        "targets: refresh median <= 16 ms at 9,999 pauses and <= 3 x the 100-pause figure; list memory <= 20 "
        "MB\n");
    // The small project first: the fonts, symbols and style the first panel loads are not the list's.
    const Figures small = measure("100", 100, rounds, folder, players, true);
    const Figures large = measure("9999", 9999, rounds, folder, players, true);
    std::printf(
        "9,999 pauses: refresh after one edit median %7.3f ms (controller's edit %7.3f ms) | scroll reviewed "
        "row "
        "to top median %7.3f ms | list memory %6.1f MB\n",
        large.refresh, large.edit, large.scroll, large.listMemory);
    std::printf(
        "  100 pauses: refresh after one edit median %7.3f ms (controller's edit %7.3f ms) | scroll reviewed "
        "row "
        "to top median %7.3f ms | list memory %6.1f MB\n",
        small.refresh, small.edit, small.scroll, small.listMemory);
    std::printf("ratio: refresh 9,999 / 100 = %.2f | scroll 9,999 / 100 = %.2f\n",
                large.refresh / small.refresh, large.scroll / small.scroll);
    fs::remove_all(folder);
    return 0;
}
