// olvex-reference: writes the manual page and the bash completion of olvex at build time, from
// the same declaration of commands and options that the program parses with.
//
//   olvex-reference manual VERSION OUTPUT.1
//   olvex-reference completion OUTPUT

#include <fstream>
#include <iostream>
#include <string>

#include "Help.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    const char* output = nullptr;
    if (what == "manual" && argc == 4) {
        text = olvex::cli::manualPage(argv[2]);
        output = argv[3];
    } else if (what == "completion" && argc == 3) {
        text = olvex::cli::bashCompletion();
        output = argv[2];
    } else {
        std::cerr << "用法：olvex-reference manual 版本 输出文件 | olvex-reference completion 输出文件\n";
        return 2;
    }
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "无法写入“" << output << "”。\n";
        return 1;
    }
    return 0;
}
