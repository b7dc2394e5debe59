// The window's test program: every test class, one after the other, under the application
// object the program itself uses.
#include "WindowTests.h"

#include "Application.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    int failed = 0;
    for (auto run :
         {RunQtDispatcherTests, RunListViewRowsTests, RunAboutBoxTests, RunMainFormTests}) {
        failed += run(argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
