// The tool's commands, as the command line (RunPackTool) calls them once their options are
// checked. Each returns the exit status: 0 success, 1 an error (or a warning under --werror).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quentaro::pack {

struct Options {
    int codePage = 932;
    std::string manifest;
    std::string output;
    bool werror = false;
    bool json = false;
    bool help = false;
    std::vector<std::string> positional;
};

// build: the manifest into a package, written under a temporary name and renamed when complete.
int Build(const Options& options, std::ostream& out, std::ostream& err);
// list: the header and the entry table of the package positional[0].
int List(const Options& options, std::ostream& out, std::ostream& err);
// verify: the setup's checks and the format's limits on the package positional[0], then warnings.
int Verify(const Options& options, std::ostream& out, std::ostream& err);
// plan: what the setup does with the package positional[0] on each class of Windows.
int Plan(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace quentaro::pack
