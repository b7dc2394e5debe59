// Quorvel: ARP-probes a range of IPv4 addresses and keeps the IP/MAC pairs it finds.
#include "Application.h"
#include "CommandLine.h"
#include "ScanMode.h"
#include "Start.h"
#include "main.h"
#ifdef _WIN32
#include "SafeDllSearch.h"
#endif

int main(int argc, char* argv[]) {
#ifdef _WIN32
    TakeSafeDllSearch();
#endif
    if (!StartUnprivileged(argc, argv)) return 1;
    const TCommandLineAnswer answer = AnswerCommandLine(argc, argv);
    if (!answer.Run) return answer.ExitCode;
    if (answer.Scan) return RunScanMode(*answer.Scan);
    TApplication app(argc, argv);
    int code = 0;
    {
        TQuorvelForm QuorvelForm;
        QuorvelForm.show();
        code = app.exec();
    }
    AwaitStoppedScans(3000);
    return code;
}
