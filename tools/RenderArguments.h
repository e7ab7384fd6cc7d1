#pragma once
// The renderer's command line read into the run it asks for.

#include "MapPrinter.h"
#include "WorldSearch.h"
#include "WorldSettingsRules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace terralume::cli {

struct Options {
    std::string size{kDefaultSize};
    std::string seed{kDefaultSeedText};
    int water = kDefaultWater;
    int heat = kDefaultHeat;
    std::optional<int> zoom;
    std::optional<std::string> png;
    std::optional<std::string> heights;
    std::optional<std::string> pdf;
    std::string title;
    print::PdfOptions page;
    std::optional<std::string> from;
    // The world settings given on the command line, which --from replaces.
    std::vector<std::string> settingsGiven;
    // Every option given, in command-line order, each once.
    std::vector<std::string> given;
    // --find: the ranges, first seed and count in `search`; its size and
    // water are filled in from the settings above.
    bool find = false;
    bool figures = false;
    SearchRequest search;
};

// A command line that asks for no run the renderer can make, in words for the user.
struct UsageError {
    std::string message;
};

enum class Action { Render, Find, Figures, Help, Version };

// Read left to right, the first fault ends the reading and is thrown: an
// argument that is no option of ours, or an option whose value is missing,
// counts only once everything before it was read.
Action parse(int argc, const char *const *argv, Options &options);

} // namespace terralume::cli
