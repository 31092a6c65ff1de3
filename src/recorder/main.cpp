#include "recorder/recorder.h"

int main(int argc, char** argv) {
    return RecorderMain(argc, argv);
}
