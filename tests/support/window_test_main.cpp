// Tests of the window need the application object and its error report.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "app/application.h"

int main(int argc, char** argv) {
    // Test discovery runs the binary without ctest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    quilora::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
