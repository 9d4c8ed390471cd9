#pragma once
// The CRC-valid frames of every shared capture, back to back; none where the folder is absent.

#include "../tests/codec/frames.h"

#include <filesystem>
#include <vector>

inline std::vector<testframes::Bytes> captureFrames()
{
    std::vector<testframes::Bytes> frames;
    const std::filesystem::path root(NUVRIX_SAMPLES_DIR);
    if (!std::filesystem::exists(root))
        return frames;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto ext = entry.path().extension().string();
        if (!entry.is_regular_file() || ext == ".md" || ext == ".txt" || ext == ".chk" || ext == ".dcd")
            continue;
        for (auto& frame : testframes::validFrames(testframes::readFile(entry.path().string())))
            frames.push_back(std::move(frame));
    }
    return frames;
}
