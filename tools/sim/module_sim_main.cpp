// hbr-module-sim: drives the simulated module by hand. Reads AT commands
// from stdin (a CR or LF ends one) and prints each reply.
//   hbr-module-sim [--seed file.json]
#include "sim_module.h"
#include "sim_seed.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    hbrsim::Seed seed;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            std::string error;
            if (!hbrsim::loadSeedFile(argv[++i], seed, &error)) {
                std::fprintf(stderr, "hbr-module-sim: %s\n", error.c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: hbr-module-sim [--seed file.json]\n");
            return 2;
        }
    }
    hbrsim::Module module;
    hbrsim::applySeed(seed, module);

    std::string line;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c != '\r' && c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        if (line.empty()) continue;
        std::string reply = module.handle(line + "\r");
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        if (reply.empty()) std::fputs("(no reply)\n", stdout);
        std::fflush(stdout);
        line.clear();
    }
    if (!line.empty()) {
        std::string reply = module.handle(line + "\r");
        std::fwrite(reply.data(), 1, reply.size(), stdout);
    }
    return 0;
}
