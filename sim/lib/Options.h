#pragma once
// Command line of tks7730-sim.

#include "Simulator.h"

#include <string>
#include <vector>

namespace tks7730sim {

enum class ParseResult { Run, Help, Version, Error };

// args excludes the program name. Fault scripts named with --fault-script are
// read here. On Error, error says what was wrong.
ParseResult parseOptions(const std::vector<std::string>& args, SimOptions& opt, std::string& error);
const char* helpText();

}  // namespace tks7730sim
