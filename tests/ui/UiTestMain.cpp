// The tests run inside the application object, as the program does.
#include <gtest/gtest.h>

#include "Application.h"

int main(int argc, char** argv) {
    // Listing the tests happens at build time, where no display may be set.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
