#include "platform/platform.h"
#include "recorder/recorder.h"

int main(int argc, char** argv) {
    platform::UseBinaryStandardStreams();
    return RecorderMain(argc, argv);
}
