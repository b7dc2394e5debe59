// Quorvel: ARP-probes a range of IPv4 addresses and keeps the IP/MAC pairs it finds.
#include "Application.h"
#include "Start.h"
#include "main.h"

int main(int argc, char* argv[]) {
    if (!StartUnprivileged(argc, argv)) return 1;
    TApplication app(argc, argv);
    TQuorvelForm QuorvelForm;
    QuorvelForm.show();
    return app.exec();
}
