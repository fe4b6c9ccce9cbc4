// Element kinds that run on plug-ins shipped with udmhost: S switches on
// the switch, D diodes on the diode plug-in.
#include <algorithm>
#include <filesystem>

#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

// The library beside the running udmhost: in its folder, in the build
// tree's folder for it, or in the lib folder of an installation.
std::string besideHost(const std::string& file, const std::string& buildFolder) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path folder = self.parent_path();
    for (const auto& candidate : {folder / file, folder / ".." / buildFolder / file, folder / ".." / "lib" / file})
        if (std::filesystem::exists(candidate, error)) return std::filesystem::weakly_canonical(candidate).string();
    return {};
}

std::string libraryOf(const std::string& key) { return key == "vcswitch" ? "libvcswitch.so" : "libudm" + key + ".so"; }
std::string buildFolderOf(const std::string& key) { return key == "vcswitch" ? "plugin" : key; }

}  // namespace

int builtInPlugin(Context& context, const Token& at, const std::string& key, const std::string& purpose) {
    if (!context.pluginsByName.contains(key)) {
        std::string path;
        if (const auto given = context.pluginPaths->find(key); given != context.pluginPaths->end())
            path = std::filesystem::absolute(given->second).string();
        else
            path = besideHost(libraryOf(key), buildFolderOf(key));
        if (path.empty())
            throw NetlistError(at.where, purpose + " need the " + key + " plug-in, which is not beside udmhost; give "
                                         "--plugin " + key + "=PATH or a line .plugin " + key + " PATH");
        PluginInfo info;
        info.where = at.where;
        try {
            info.catalogue = (*context.catalogues)(path);
        } catch (const std::runtime_error& error) {
            throw NetlistError(at.where, "cannot load the " + key + " plug-in: " + error.what());
        }
        context.circuit.plugins.push_back({key, path});
        context.pluginsByName.emplace(key, std::move(info));
    }
    for (size_t i = 0; i < context.circuit.plugins.size(); ++i)
        if (lowerCase(context.circuit.plugins[i].name) == key) return static_cast<int>(i);
    throw NetlistError(at.where, "internal: plug-in " + key + " is not registered");
}

// Dname anode cathode model [area] [m=copies] [area=value] [off]
void readDiode(Context& context, const LogicalLine& line, Element& element) {
    LineCursor cursor(line);
    const Token& name = cursor.take();
    element.nodes.push_back(context.node(cursor.word("the anode of " + name.text)));
    element.nodes.push_back(context.node(cursor.word("the cathode of " + name.text)));
    const ModelCard& model = modelOf(context, cursor.word("a diode model name"), "d");
    auto given = [&](const char* key, double fallback) {
        const auto found = model.values.find(key);
        return found == model.values.end() ? fallback : found->second;
    };
    // SPICE's aliases: CJ0 and CJ for CJO, PB for VJ, MJ for the grading
    // coefficient M (the plug-in's M is the instance's parallel copies).
    std::map<std::string, double> values = {
        {"is", given("is", 1e-14)},   {"n", given("n", 1.0)},
        {"rs", given("rs", 0.0)},     {"bv", given("bv", 0.0)},
        {"ibv", given("ibv", 1e-3)},  {"area", given("area", 1.0)},
        {"m", 1.0},                   {"cjo", given("cjo", given("cj0", given("cj", 0.0)))},
        {"vj", given("vj", given("pb", 1.0))}, {"mj", given("m", given("mj", 0.5))},
        {"fc", given("fc", 0.5)},     {"tt", given("tt", 0.0)}};
    while (!cursor.atEnd()) {
        const Token& token = cursor.peek();
        const std::string word = token.kind == Token::Kind::Word ? lowerCase(token.text) : std::string();
        if (word == "off") {
            cursor.take();
            continue;
        }
        if (word == "m" || word == "area" || word == "ic" || word == "temp" || word == "dtemp") {
            cursor.take();
            if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + token.text);
            const SourceLocation where = cursor.here();
            const double value = context.value(cursor, "a value for " + token.text);
            if (word == "m" || word == "area") {
                if (!(value > 0.0)) throw NetlistError(where, word + " must be positive");
                values[word] = value;
            } else {
                context.warnOnce("diode-" + word, token.where, "diode " + word + "= ignored");
            }
            continue;
        }
        const SourceLocation where = cursor.here();
        const double area = context.value(cursor, "an area factor, m=, area= or OFF");
        if (!(area > 0.0)) throw NetlistError(where, "the area factor must be positive");
        values["area"] = area;
    }
    element.plugin = builtInPlugin(context, name, "diode", "D elements");
    const PluginRef& ref = context.circuit.plugins[static_cast<size_t>(element.plugin)];
    const auto& catalogue = context.pluginsByName.at(lowerCase(ref.name)).catalogue;
    size_t found = 0;
    bool first = true;
    for (const CatalogueItem& item : catalogue) {
        if (item.kind == UDM_KIND_TERMINAL) ++found;
        if (item.kind != UDM_KIND_PARAMETER) continue;
        if (!first) element.definitionText += ',';
        first = false;
        const auto value = values.find(lowerCase(item.name));
        element.definitionText += value == values.end() ? item.defaultText : numberText(value->second);
    }
    if (found != 2) throw NetlistError(name.where, "plug-in " + ref.name + " is not a two-terminal diode");
}

}  // namespace udmhost::netlist
