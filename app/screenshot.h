// `sorvane-gui --screenshot DIR`: draws every window of the program into PNG
// files, so the skin can be looked at without a display.
#pragma once

#include <QString>

namespace sorvane::app {

// The pop-up windows and their layout, size and language section.
struct PopUpLayout {
    const char* file;  // in the skin's xml folder
    int width;
    int height;
    const char* section;  // language section
};
inline constexpr PopUpLayout kProgressWindows[] = {
    {"ScanProcessWnd.xml", 450, 250, "ScanWnd"},
    {"SearchProcessWnd.xml", 450, 220, "SearchProcessWnd"},
    {"RecoverProcessWnd.xml", 500, 250, "RecoverProcessWnd"},
    {"PreviewProcessWnd.xml", 450, 250, "PreviewProcessWnd"},
    {"CreateImageProcessWnd.xml", 450, 250, "CreateImageWnd"},
};

// Writes the PNG files, in `language` when one is named ("Deutsch"); returns
// 0 when every window was drawn, 1 otherwise.
int RunScreenshots(const QString& folder, const QString& language = {});

}  // namespace sorvane::app
