// pgnlive: every board's game of a round, live (src/live/pgnlive.h).
#include "live/pgnlive.h"

#include "platform/platform.h"

int main(int argc, char** argv) {
    platform::UseBinaryStandardStreams();
    return PgnliveMain(argc, argv);
}
