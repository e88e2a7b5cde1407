// What the setup does with a package on each class of Windows, found by running its checks,
// extraction and shortcut creation against stand-ins.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/package.h"

namespace quentaro::pack {

// One file that the setup writes.
struct PlannedFile {
    Destination folder = Destination::kNotWritten;
    std::u16string name;  // the name it has in its folder
    std::uint32_t entry = 0;
    std::u16string storedName;  // the entry's name as stored, decoded
    std::uint64_t size = 0;     // bytes written
    std::string time;           // the local time it is given, as stored
};

enum class Outcome { kCompletes, kCompletesWithoutShortcuts, kStops, kEndsWithoutMessage };

// What the setup does with a package on one platform kind.
struct KindPlan {
    std::int32_t kind = 0;
    std::vector<PlannedFile> files;  // in the order they are written
    bool driverRuns = false;         // the setup starts the driver installer (it fails when not delivered)
    bool driverDelivered = false;    // QuentaroDriver32setup.exe is among the destination files
    bool infDelivered = false;       // so is Quentaro.inf
    bool shortcuts = false;          // the shortcuts are made
    Outcome outcome = Outcome::kEndsWithoutMessage;
    std::u16string message;  // the message the setup stops with
};

struct PackagePlan {
    std::uint64_t length = 0;
    std::u16string neededSpace;   // the destination page's text
    std::vector<KindPlan> kinds;  // platform kinds 1 to 5
};

// Runs the setup's checks, extraction and shortcut creation on the package for platform kinds 1 to 5
// against recording stand-ins of the file system, the shell and the shell links (a computer in UTC,
// names decoded in `codePage`). False (with `error`, the system's reason) when the package cannot be
// opened.
bool PlanPackage(const std::string& path, int codePage, PackagePlan& plan, std::string& error);

// The plan of the package at `path`, as text or as JSON.
void PrintPlanText(const std::string& path, const PackagePlan& plan, std::ostream& out);
void PrintPlanJson(const std::string& path, const PackagePlan& plan, std::ostream& out);

}  // namespace quentaro::pack
