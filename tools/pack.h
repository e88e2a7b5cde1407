// The package tool's logic: building a package from a manifest, listing, verifying and planning
// one. The executable quentaro-pack is a thin front end over RunPackTool.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/codepage.h"
#include "tools/host_ports.h"
#include "tools/image.h"
#include "tools/entry_report.h"
#include "tools/manifest.h"
#include "tools/plan.h"

namespace quentaro::pack {

// Runs the tool with its arguments (without the program name); returns the exit status: 0 success
// (also for help), 1 a failed verification, a bad manifest or package, or a warning under --werror,
// 2 wrong usage.
int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quentaro::pack
