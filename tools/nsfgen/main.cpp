// nsfgen: writes a deterministic synthetic mail database as DXL.
#include "Generator.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>

int main(int argc, char **argv) {
    CLI::App app{"Writes a deterministic synthetic Notes mail database as DXL"};
    tessel::nsfgen::Options options;
    std::string out;
    double megabytes = 0;
    app.add_option("--seed", options.seed, "Seed of the generator (same seed, same file)")->default_val(1);
    app.add_option("--notes", options.notes, "Number of documents to write (at least)")->default_val(40);
    app.add_option("--bytes", megabytes, "Keep writing documents until the file reaches this many MB")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--out", out, "Output file (- for standard output)")->required();
    CLI11_PARSE(app, argc, argv);
    options.targetBytes = static_cast<std::uint64_t>(megabytes * 1024 * 1024);

    try {
        tessel::nsfgen::Summary summary;
        if (out == "-") {
            summary = tessel::nsfgen::generate(options, std::cout);
        } else {
            std::ofstream file(out, std::ios::binary | std::ios::trunc);
            if (!file) {
                std::fprintf(stderr, "nsfgen: cannot open %s for writing\n", out.c_str());
                return 1;
            }
            summary = tessel::nsfgen::generate(options, file);
            file.close();
            if (!file) {
                std::fprintf(stderr, "nsfgen: error writing %s\n", out.c_str());
                return 1;
            }
        }
        std::fprintf(stderr, "nsfgen: %llu documents, %llu design notes, %llu bytes\n",
                     static_cast<unsigned long long>(summary.documents),
                     static_cast<unsigned long long>(summary.designNotes),
                     static_cast<unsigned long long>(summary.bytes));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "nsfgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
