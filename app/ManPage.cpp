// tq2604x-eval-manpage TEMPLATE OUTPUT: the manual page, with the options table in place of the
// template's marker line. Run by the build, so the page lists exactly what --help lists.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "app/ManPageText.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tq2604x-eval-manpage TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "tq2604x-eval-manpage: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string page;
    if (!tq::FillManPage(text.str(), page)) {
        std::fprintf(stderr, "tq2604x-eval-manpage: %s has no line '%s'\n", argv[1],
                     std::string(tq::kManPageOptionsMarker).c_str());
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "tq2604x-eval-manpage: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
