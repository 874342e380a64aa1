// The tool's commands. Each takes its own options from the command line,
// prints for a person on standard output and returns the exit status;
// failures are thrown (errors.h).
#pragma once

#include <string>
#include <vector>

#include "common/options.h"

namespace kvd::tool {

struct Command {
    const char *name;
    const char *summary; // one line for the overview
    std::string (*help)(); // the whole --help text
    const OptionTable &(*options)();
    int (*run)(Arguments &arguments);
};

// Every command, in the order the overview lists them.
const std::vector<Command> &commands();

int runList(Arguments &arguments);
int runAcquire(Arguments &arguments);
int runConvert(Arguments &arguments);
int runCollect(Arguments &arguments);
int runDi(Arguments &arguments);
int runDo(Arguments &arguments);
int runDa(Arguments &arguments);
int runTrig(Arguments &arguments);
int runSettings(Arguments &arguments);
int runLog(Arguments &arguments);
int runPanel(Arguments &arguments);
int runDoctor(Arguments &arguments);

const OptionTable &listOptions();
const OptionTable &acquireOptions();
const OptionTable &convertOptions();
const OptionTable &collectOptions();
const OptionTable &diOptions();
const OptionTable &doOptions();
const OptionTable &daOptions();
const OptionTable &trigOptions();
const OptionTable &settingsOptions();
const OptionTable &logOptions();
const OptionTable &panelOptions();
const OptionTable &doctorOptions();

std::string listHelp();
std::string acquireHelp();
std::string convertHelp();
std::string collectHelp();
std::string diHelp();
std::string doHelp();
std::string daHelp();
std::string trigHelp();
std::string settingsHelp();
std::string logHelp();
std::string panelHelp();
std::string doctorHelp();

// The exit status in a paragraph, and the reference that ends `help --all`
// (exit status, environment, files, examples; reference.cpp).
std::string exitStatusHelp();
std::string referenceHelp();

} // namespace kvd::tool
