#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace pv {

namespace {
// Qt's options that take a value, and those that take none (the session manager restarts a
// program with -session).
constexpr std::array<std::string_view, 9> kQtValueOptions = {
    "platform", "platformtheme", "platformpluginpath", "display", "style", "stylesheet",
    "session", "name", "qwindowgeometry"};
constexpr std::array<std::string_view, 2> kQtFlagOptions = {"reverse", "nograb"};

std::string helpText()
{
    return "Használat: polvarine [KAPCSOLÓ]\n"
           "Hálózatminőség-figyelő: folyamatosan méri a Wi-Fi, a router, a szolgáltató és a\n"
           "névfeloldás állapotát, és magyarul megmondja, hol a hiba.\n"
           "Kapcsoló nélkül elindul az ablakkal és a tálcaikonnal (a már futó példányt előre hozza).\n"
           "\n"
           "  -h, --help       ez a súgó\n"
           "  -V, --version    a program verziója\n"
           "A Qt szabványos kapcsolóit is elfogadja (például -platform, -display, -style).\n";
}

CommandLineAnswer refuse(std::string why)
{
    return {CommandLineAnswer::Action::refuse,
            "polvarine: " + why + "\nA használat: polvarine --help\n", 2};
}
} // namespace

CommandLineAnswer answerCommandLine(const std::vector<std::string>& args, const std::string& version)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help")
            return {CommandLineAnswer::Action::print, helpText(), 0};
        if (arg == "-V" || arg == "--version")
            return {CommandLineAnswer::Action::print, "Polvarine " + version + "\n", 0};
        if (arg.size() < 2 || arg[0] != '-')
            return refuse("nem vár fájlt vagy más argumentumot: „" + arg + "”.");
        const std::string_view name = std::string_view(arg).substr(arg[1] == '-' ? 2 : 1);
        if (std::find(kQtFlagOptions.begin(), kQtFlagOptions.end(), name) != kQtFlagOptions.end())
            continue;
        if (std::find(kQtValueOptions.begin(), kQtValueOptions.end(), name) != kQtValueOptions.end()) {
            if (i + 1 == args.size())
                return refuse("a(z) „" + arg + "” kapcsoló után hiányzik az érték.");
            ++i;
            continue;
        }
        return refuse("ismeretlen kapcsoló: „" + arg + "”.");
    }
    return {};
}

} // namespace pv
