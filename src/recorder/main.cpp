#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    std::printf("Usage : %s [Recorded file]\n", argv[0]);
    std::fflush(stdout);
    return -1;
}
