// What both bare replays (hidraw-bench and hid_replay.exe) take from a
// --trace: the operations on the upgraded unit (the path of the first write)
// that succeeded, and every pause; the rest of discovery is left out.
#pragma once

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "device/transcript.h"

namespace wxr::vm {

inline std::vector<TranscriptLine> replayable(const std::string& trace) {
    std::ifstream in(trace);
    std::vector<TranscriptLine> lines;
    std::string text, unit;
    while (std::getline(in, text)) {
        auto line = parse_transcript_line(text);
        if (line && line->op == "set" && unit.empty()) unit = line->path;
        if (line && !line->failed) lines.push_back(*line);
    }
    std::erase_if(lines, [&](const TranscriptLine& l) { return l.op != "sleep" && l.path != unit; });
    return lines;
}

}  // namespace wxr::vm
