// Entry point of the GUI test programs: the framework on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QByteArray>

#include "platform/framework/gui/application.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    fw::Runtime runtime(argc, argv, fw::Runtime::Options{.singleInstance = false});
    return RUN_ALL_TESTS();
}
