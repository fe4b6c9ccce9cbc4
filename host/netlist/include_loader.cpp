#include "netlist/include_loader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "netlist/netlist_error.h"
#include "text/lower_case.h"

namespace udmhost::netlist {

namespace {

namespace fs = std::filesystem;

bool isDirective(const LogicalLine& line, const char* name) {
    return line.tokens.front().kind == Token::Kind::Word && lowerCase(line.tokens.front().text) == name;
}

// The words of a directive after its keyword, adjacent tokens joined (a
// path may contain '=' or parentheses).
std::vector<std::string> arguments(const LogicalLine& line) {
    std::vector<std::string> words;
    for (size_t i = 1; i < line.tokens.size(); ++i) {
        const Token& token = line.tokens[i];
        if (token.spaceBefore || words.empty()) words.push_back(token.text);
        else words.back() += token.text;
    }
    return words;
}

class Loader {
public:
    std::vector<LogicalLine> out;

    // Appends `lines` (of `file`, in `folder`), expanded. `section`: only
    // the lines of that .lib section.
    void expand(const std::vector<LogicalLine>& lines, const std::string& folder, const std::string& section,
                const SourceLocation& askedAt) {
        bool inSection = false, found = section.empty();
        for (const LogicalLine& line : lines) {
            if (isDirective(line, ".lib") && arguments(line).size() == 1) {
                inSection = true;
                if (!section.empty() && lowerCase(arguments(line)[0]) == section) found = true;
                currentSection_ = lowerCase(arguments(line)[0]);
                continue;
            }
            if (stack_.size() > 1 && isDirective(line, ".end")) continue;  // an included deck's own end
            if (isDirective(line, ".endl")) {
                inSection = false;
                continue;
            }
            if (inSection != !section.empty() || (inSection && currentSection_ != section)) continue;
            if (isDirective(line, ".include") || isDirective(line, ".inc") || isDirective(line, ".lib")) {
                const std::string saved = currentSection_;
                include(line, folder);
                currentSection_ = saved;
            } else {
                out.push_back(line);
            }
        }
        if (!found) throw NetlistError(askedAt, "no section " + section + " (.lib " + section + " ... .endl)");
    }

private:
    std::vector<std::string> stack_;  // files being read, outermost first
    std::string currentSection_;

    void include(const LogicalLine& line, const std::string& folder) {
        const bool lib = isDirective(line, ".lib");
        const std::vector<std::string> words = arguments(line);
        const SourceLocation at = line.tokens.size() > 1 ? line.tokens[1].where : line.where;
        if (words.size() != (lib ? 2u : 1u))
            throw NetlistError(at, lib ? "expected .lib FILE SECTION" : "expected " + line.tokens[0].text + " FILE");
        fs::path path(words[0]);
        if (path.is_relative()) path = fs::path(folder) / path;
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(path, error);
        const std::string key = error ? path.string() : canonical.string();
        for (size_t i = 0; i < stack_.size(); ++i)
            if (stack_[i] == key) {
                std::string chain;
                for (size_t j = i; j < stack_.size(); ++j) chain += fs::path(stack_[j]).filename().string() + " -> ";
                throw NetlistError(at, "include cycle: " + chain + fs::path(key).filename().string());
            }
        // Only files: a device (/dev/zero) or a folder would never end or not read.
        if (fs::exists(path, error) && !fs::is_regular_file(path, error))
            throw NetlistError(at, path.string() + " is not a regular file");
        std::ifstream in(path, std::ios::binary);
        if (!in) throw NetlistError(at, "cannot read " + path.string() + ": " + std::strerror(errno));
        std::ostringstream text;
        text << in.rdbuf();
        const NetlistText lexed = lexNetlist(text.str(), path.string(), false);
        stack_.push_back(key);
        expand(lexed.lines, path.parent_path().string(), lib ? lowerCase(words[1]) : std::string(),
               line.tokens.back().where);
        stack_.pop_back();
    }

public:
    void enter(const std::string& file) {
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(file, error);
        stack_.push_back(error ? file : canonical.string());
    }
};

}  // namespace

std::vector<LogicalLine> expandIncludes(const std::vector<LogicalLine>& lines, const std::string& file,
                                        const std::string& folder) {
    Loader loader;
    loader.enter(file);
    loader.expand(lines, folder, {}, {});
    return std::move(loader.out);
}

}  // namespace udmhost::netlist
