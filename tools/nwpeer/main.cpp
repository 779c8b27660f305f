// nwpeer CONFIG: a simulated NetWare host (see nwpeer.h). SIGUSR1 makes it
// fall silent, SIGUSR2 makes it answer again; SIGINT or SIGTERM ends it.
#include "tools/nwpeer/nwpeer.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CONFIG\n", argv[0]);
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // the answering thread inherits the mask

    NetWarePeer peer(argv[1]);
    std::string error;
    if (!peer.start(&error)) {
        std::fprintf(stderr, "nwpeer: %s\n", error.c_str());
        return 1;
    }
    std::printf("nwpeer: answering for %zu server(s)\n", peer.servers().size());
    std::fflush(stdout);
    for (;;) {
        int s = 0;
        if (sigwait(&signals, &s) != 0)
            return 1;
        if (s == SIGUSR1 || s == SIGUSR2) {
            peer.setSilent(s == SIGUSR1);
            std::printf("nwpeer: %s\n", s == SIGUSR1 ? "silent" : "answering");
            std::fflush(stdout);
        } else {
            peer.stop();
            return 0;
        }
    }
}
