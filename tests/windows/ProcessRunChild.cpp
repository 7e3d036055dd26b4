// A program for the Windows process-run tests:
//   exit N          ends with exit code N
//   hang NAME       holds the named mutex NAME and never ends by itself
//   args FILE ...   writes each further argument to FILE, one per line
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "hang") == 0) {
        if (CreateMutexA(nullptr, FALSE, argv[2]) == nullptr) return 3;
        for (;;) Sleep(INFINITE);
    }
    if (argc >= 3 && std::strcmp(argv[1], "args") == 0) {
        FILE* file = std::fopen(argv[2], "wb");
        if (file == nullptr) return 3;
        for (int i = 3; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
        return std::fclose(file) == 0 ? 0 : 3;
    }
    return 2;
}
