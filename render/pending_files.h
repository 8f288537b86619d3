// SPDX-License-Identifier: MIT
// Output files that appear whole or not at all: each is written to a temporary next to its final
// name and renamed into place only when everything succeeded; anything left uncommitted is
// removed, so a failed render leaves no partial file behind. The name "-" is standard output:
// its temporary (in the system's temporary folder) is copied there on commit.
#pragma once

#include <string>
#include <vector>

namespace kvx::render {

class PendingFiles {
public:
    PendingFiles() = default;
    ~PendingFiles();  // removes every temporary not yet committed
    PendingFiles(const PendingFiles&) = delete;
    PendingFiles& operator=(const PendingFiles&) = delete;

    // Registers `finalPath` ("-": standard output) and returns the temporary to write instead.
    // Throws RenderError when the folder does not exist or the same path was registered twice.
    std::string add(const std::string& finalPath);
    // Renames every temporary to its final name (copies and removes the one for standard
    // output). Throws RenderError if a rename or the copy fails (the temporaries not yet
    // committed are then removed).
    void commit();
    // Removes every temporary now.
    void discard() noexcept;

private:
    struct Entry {
        std::string finalPath;
        std::string temporary;
    };
    std::vector<Entry> entries;
};

// Removes the temporaries still on disk, for a signal handler that must clean up on its own:
// reads fixed storage and calls only unlink, both safe inside the handler.
void removePendingTemporariesFromSignal() noexcept;

}  // namespace kvx::render
