// One QApplication for the whole binary, on the offscreen platform, with a
// private config and home folder so no test touches the real user's files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
    // gtest_discover_tests runs this binary at build time, outside ctest's
    // environment, so the platform is chosen here.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QTemporaryDir home;
    if (!home.isValid()) {
        return 1;
    }
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit().constData(),
           1);
    setenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit().constData(), 1);

    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
