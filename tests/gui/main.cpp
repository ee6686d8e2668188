// The GUI test program: one framework runtime for all its tests, on the offscreen platform,
// single-instance in a runtime folder of its own so that a second start of the real program
// finds this one.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include "tests/gui/gui_test.h"

namespace {
fw::Runtime* runtime = nullptr;
}

fw::Runtime& TestRuntime() {
    return *runtime;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    testing::InitGoogleTest(&argc, argv);
    fw::Runtime fw(argc, argv);
    runtime = &fw;
    return RUN_ALL_TESTS();
}
