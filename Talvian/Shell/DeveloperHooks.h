#pragma once
// Two switches for the developer's tools, read from the environment and inert without it:
//   TALVIAN_SCREENSHOT=<file.png>  once the window is idle (with "--demo": the sample analysed),
//                                  writes a PNG of the whole screen, prints the source, whether
//                                  the preview is ready and the notice shown, and quits;
//   TALVIAN_SCREENSHOT_KEYS=<k,k…>  before that shot, presses these keys one by one, each once
//                                  the window is idle ("Down", "+", "grip" focuses a grip,
//                                  "click:添加切点" clicks that button …);
//   TALVIAN_SCREENSHOT_SIZE=<WxH>   the window's size for that shot;
//   TALVIAN_REPORT_FIRST_PAINT=1   prints "first-paint <ns since the epoch>" when the window
//                                  paints for the first time, then quits.
// tools/screenshot.sh and bench/startup.sh use them. Main thread.

class QMainWindow;

namespace talvian {

class Workspace;

void installDeveloperHooks(QMainWindow& window, Workspace& workspace, bool demo);

}  // namespace talvian
