// What the user typed after `polvarine`: a terminal answer (--help, --version, an unknown option)
// is decided before anything of the desktop program starts.
#pragma once

#include <string>
#include <vector>

namespace pv {

struct CommandLineAnswer {
    enum class Action { run, print, refuse };
    Action action = Action::run;
    std::string text; // what goes to the terminal (stdout for print, stderr for refuse)
    int exitCode = 0;
};

// args: argv without the program name. Qt's own display options (-platform, -display, -style,
// -session, …) are left to Qt.
CommandLineAnswer answerCommandLine(const std::vector<std::string>& args, const std::string& version);

} // namespace pv
