// Test child for the process runner. Writes its arguments (one per line, without argv[0]) and,
// on the last line, its working directory to the file named by PROBE_OUT. Options, taken only
// as the first argument:
//   --spam N       first writes N bytes to standard output and standard error
//   --ignore-term  ignores SIGTERM and sleeps up to 20 s
//   --read-stdin   first reads standard input to its end
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    if (argc > 2 && std::strcmp(argv[1], "--spam") == 0) {
        const long count = std::atol(argv[2]);
        const std::string block(4096, 'S');
        for (long written = 0; written < count; written += static_cast<long>(block.size())) {
            std::fwrite(block.data(), 1, block.size(), stdout);
            std::fwrite(block.data(), 1, block.size(), stderr);
        }
        std::fflush(stdout);
    }
    if (argc > 1 && std::strcmp(argv[1], "--ignore-term") == 0)
        std::signal(SIGTERM, SIG_IGN);
    if (argc > 1 && std::strcmp(argv[1], "--read-stdin") == 0) {
        char buffer[4096];
        while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
        }
    }

    if (const char *out = std::getenv("PROBE_OUT")) {
        const std::string tmp = std::string(out) + ".part";
        if (FILE *f = std::fopen(tmp.c_str(), "wb")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(f, "%s\n", argv[i]);
            char cwd[4096] = {0};
            if (getcwd(cwd, sizeof cwd))
                std::fprintf(f, "%s\n", cwd);
            std::fclose(f);
            std::rename(tmp.c_str(), out);
        }
    }

    if (argc > 1 && std::strcmp(argv[1], "--ignore-term") == 0) {
        for (int i = 0; i < 200; ++i)
            usleep(100 * 1000);
    }
    return 0;
}
