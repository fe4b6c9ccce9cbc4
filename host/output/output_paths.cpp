#include "output/output_paths.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "text/lower_case.h"

namespace udmhost {

namespace {

struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved;  // for a file not there yet
    bool operator==(const Identity& other) const {
        if (exists != other.exists) return false;
#ifdef _WIN32
        return exists == other.exists && resolved == other.resolved;
#else
        return exists ? device == other.device && inode == other.inode : resolved == other.resolved;
#endif
    }
};

// nullopt for what may be shared: a device, a pipe, an empty name.
std::optional<Identity> identify(const std::string& path) {
    if (path.empty()) return std::nullopt;
    Identity id;
#ifdef _WIN32
    // Windows has no inode numbers in stat: an existing file is known by its
    // canonical path, letters of any case being one name.
    std::error_code status;
    if (std::filesystem::exists(path, status)) {
        if (!std::filesystem::is_regular_file(path, status)) return std::nullopt;
        id.exists = true;
        id.resolved = lowerCase(std::filesystem::canonical(path, status).string());
        return id;
    }
#else
    struct stat status = {};
    if (::stat(path.c_str(), &status) == 0) {  // follows links: a link and its target are one file
        if (!S_ISREG(status.st_mode)) return std::nullopt;
        id.exists = true;
        id.device = status.st_dev;
        id.inode = status.st_ino;
        return id;
    }
#endif
    const std::filesystem::path p(path);
    std::error_code error;
    std::filesystem::path folder = p.parent_path().empty() ? std::filesystem::path(".") : p.parent_path();
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, error);
    id.resolved = ((error ? folder : resolved) / p.filename()).lexically_normal().string();
    return id;
}

std::string describe(const NamedPath& named) { return named.option + " " + named.path; }

}  // namespace

void refuseSharedPaths(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& inputs) {
    std::vector<std::optional<Identity>> out;
    for (const NamedPath& o : outputs) out.push_back(identify(o.path));
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (!out[i]) continue;
        for (size_t j = 0; j < i; ++j)
            if (out[j] && *out[j] == *out[i])
                throw std::runtime_error(describe(outputs[j]) + " and " + describe(outputs[i]) +
                                         " name the same file; each output needs a file of its own");
        for (const NamedPath& input : inputs) {
            const std::optional<Identity> in = identify(input.path);
            if (in && *in == *out[i])
                throw std::runtime_error(describe(outputs[i]) + " would overwrite " + describe(input));
        }
    }
}

}  // namespace udmhost
