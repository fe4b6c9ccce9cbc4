#include "output/plotter_process.h"

#include <cstring>
#include <fstream>

namespace udmhost {

bool isCompletePng(const std::string& path) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    // Length 0, "IEND", and the CRC of that empty chunk.
    static const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    std::ifstream in(path, std::ios::binary);
    unsigned char head[8] = {}, tail[12] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) || std::memcmp(head, kSignature, sizeof head) != 0)
        return false;
    in.seekg(-static_cast<std::streamoff>(sizeof tail), std::ios::end);
    return in.read(reinterpret_cast<char*>(tail), sizeof tail) && std::memcmp(tail, kEnd, sizeof tail) == 0;
}

}  // namespace udmhost
