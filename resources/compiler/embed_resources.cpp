// Build tool: embed_resources SCRIPT.rc OUTPUT.cpp
// Compiles a resource script into a translation unit holding its string table
// and version record as ELF notes. Fails, naming the line, on anything in the
// script it does not understand.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "note_writer.h"
#include "rc_script.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " SCRIPT.rc OUTPUT.cpp\n";
        return 2;
    }
    const std::filesystem::path input = argv[1];
    const std::filesystem::path output = argv[2];
    try {
        std::ifstream in(input, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read the script");
        std::ostringstream text;
        text << in.rdbuf();
        const auto script = udm::rc::parseResourceScript(text.str());
        const auto source = udm::rc::noteSource(udm::rc::buildResourceNotes(script), input.filename().string());
        const auto temporary = output.string() + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << source;
            if (!out) throw std::runtime_error("cannot write " + temporary);
        }
        std::filesystem::rename(temporary, output);
    } catch (const std::exception& e) {
        std::cerr << input.string() << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
