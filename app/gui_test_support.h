// Shared set-up of the window tests: one QApplication for the test program
// (headless when QT_QPA_PLATFORM=offscreen) and the shipped texts.
#pragma once

#include <stdlib.h>

#include <cstdlib>

#include <QApplication>
#include <filesystem>

#include "app/language_service.h"

namespace sorvane::app::testing {

inline QApplication& Application() {
    // The person's own settings (language, window size, last folder) go to a
    // scratch folder, never into the settings of whoever runs the tests.
    static const bool scratchSettings = [] {
        static char folder[] = "/tmp/sorvane-gui-test-config-XXXXXX";
        if (!mkdtemp(folder)) return false;
        setenv("XDG_CONFIG_HOME", folder, 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return true;
    }();
    static_cast<void>(scratchSettings);
    static int argc = 1;
    static char name[] = "sorvane-gui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// The program data of the source tree (config.ini, Languages/), loaded as the process-wide texts.
inline std::filesystem::path ShippedData() {
    return std::filesystem::path(SORVANE_SOURCE_DIR) / "app" / "data";
}
inline LanguageService& UseShippedTexts() { return LanguageService::ReloadInstance(ShippedData()); }

}  // namespace sorvane::app::testing
