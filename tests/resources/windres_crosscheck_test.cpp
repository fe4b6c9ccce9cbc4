// The resource scripts as the Windows resource compiler reads them: every
// string and the version record that windres writes into its .res output
// must be what the resource script reader finds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "rc_script.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint16_t u16(const Bytes& b, std::size_t at) { return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8)); }
uint32_t u32(const Bytes& b, std::size_t at) { return u16(b, at) | (static_cast<uint32_t>(u16(b, at + 2)) << 16); }
std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// UTF-16 code units (all in the BMP here) to UTF-8.
std::string utf8(const std::u16string& units) {
    std::string out;
    for (char16_t u : units) {
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

struct Resource {
    uint16_t type;
    uint16_t name;
    uint16_t language;
    Bytes data;
};

// The entries of a 32-bit .res file; only numeric types and names occur here.
std::vector<Resource> readRes(const std::string& file) {
    const Bytes b(file.begin(), file.end());
    std::vector<Resource> out;
    std::size_t pos = 0;
    while (pos + 32 <= b.size()) {
        const uint32_t dataSize = u32(b, pos);
        const uint32_t headerSize = u32(b, pos + 4);
        EXPECT_EQ(u16(b, pos + 8), 0xFFFF);  // numeric type
        EXPECT_EQ(u16(b, pos + 12), 0xFFFF);  // numeric name
        Resource r{u16(b, pos + 10), u16(b, pos + 14), u16(b, pos + 22), {}};
        const std::size_t data = pos + headerSize;
        r.data.assign(b.begin() + static_cast<long>(data), b.begin() + static_cast<long>(data + dataSize));
        if (dataSize > 0) out.push_back(std::move(r));
        pos = align4(data + dataSize);
    }
    return out;
}

std::map<std::pair<int, int>, std::string> windresStrings(const std::vector<Resource>& resources) {
    std::map<std::pair<int, int>, std::string> texts;
    for (const auto& r : resources) {
        if (r.type != 6) continue;  // string blocks of 16
        std::size_t pos = 0;
        for (int k = 0; k < 16; ++k) {
            const uint16_t length = u16(r.data, pos);
            std::u16string units;
            for (uint16_t i = 0; i < length; ++i) units += static_cast<char16_t>(u16(r.data, pos + 2 + 2 * i));
            if (length > 0) texts[{r.language, (r.name - 1) * 16 + k}] = utf8(units);
            pos += 2 + 2u * length;
        }
    }
    return texts;
}

struct WindresVersion {
    uint32_t file[2] = {};
    uint32_t product[2] = {};
    std::map<int, std::string> comments;
};

// Walks the nested blocks of a version resource: length, value length, type,
// key, value, children, each aligned to 4 bytes.
void walkVersionBlock(const Bytes& b, std::size_t pos, std::size_t end, std::vector<std::string> path,
                      WindresVersion& v) {
    while (pos + 6 < end) {
        const uint16_t length = u16(b, pos);
        const uint16_t valueLength = u16(b, pos + 2);
        const uint16_t type = u16(b, pos + 4);
        std::u16string key;
        std::size_t at = pos + 6;
        for (; u16(b, at) != 0; at += 2) key += static_cast<char16_t>(u16(b, at));
        at = align4(at + 2);
        path.push_back(utf8(key));
        if (path.size() == 1 && valueLength >= 52) {
            EXPECT_EQ(u32(b, at), 0xFEEF04BDu);
            v.file[0] = u32(b, at + 8);
            v.file[1] = u32(b, at + 12);
            v.product[0] = u32(b, at + 16);
            v.product[1] = u32(b, at + 20);
        }
        if (path.size() == 4 && path[1] == "StringFileInfo" && path[3] == "Comments" && type == 1) {
            std::u16string text;
            for (std::size_t i = 0; i + 1 < valueLength; ++i) text += static_cast<char16_t>(u16(b, at + 2 * i));
            v.comments[std::stoi(path[2].substr(0, 4), nullptr, 16)] = utf8(text);
        }
        const std::size_t valueBytes = type == 1 ? 2u * valueLength : valueLength;
        walkVersionBlock(b, align4(at + valueBytes), pos + length, path, v);
        path.pop_back();
        pos = align4(pos + length);
    }
}

void expectSameAsWindres(const char* script, const char* res) {
    const auto parsed = udm::rc::parseResourceScript(readFile(script));
    const auto resources = readRes(readFile(res));
    ASSERT_FALSE(resources.empty()) << res;

    std::map<std::pair<int, int>, std::string> ours;
    for (const auto& e : parsed.strings) ours[{e.language, e.id}] = e.text;
    EXPECT_EQ(ours, windresStrings(resources));

    WindresVersion theirs;
    for (const auto& r : resources) {
        if (r.type == 16) walkVersionBlock(r.data, 0, r.data.size(), {}, theirs);
    }
    ASSERT_TRUE(parsed.version.has_value());
    const auto& fv = parsed.version->fileVersion;
    const auto& pv = parsed.version->productVersion;
    EXPECT_EQ(theirs.file[0], (uint32_t{fv[0]} << 16) | fv[1]);
    EXPECT_EQ(theirs.file[1], (uint32_t{fv[2]} << 16) | fv[3]);
    EXPECT_EQ(theirs.product[0], (uint32_t{pv[0]} << 16) | pv[1]);
    EXPECT_EQ(theirs.product[1], (uint32_t{pv[2]} << 16) | pv[3]);
    std::map<int, std::string> comments;
    for (const auto& c : parsed.version->comments) comments[c.language] = c.text;
    EXPECT_EQ(comments, theirs.comments);
}

TEST(WindresCrosscheck, PluginScriptReadsAsTheWindowsBuildCompilesIt) {
    expectSameAsWindres(UDM_PLUGIN_SCRIPT_PATH, UDM_PLUGIN_RES_PATH);
}

TEST(WindresCrosscheck, SampleScriptWithEscapesAndJoinedLiteralsReadsTheSame) {
    expectSameAsWindres(UDM_SAMPLE_SCRIPT_PATH, UDM_SAMPLE_RES_PATH);
}

}  // namespace
