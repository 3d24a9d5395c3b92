#include "app/History.h"

#include <vector>

std::string HistoryLine(const LandscapeRecord& record) {
    std::string line = "glidescape-render --land-seed " + std::to_string(record.landSeed) +
                       " --view-seed " + std::to_string(record.viewSeed);
    if (record.clientWidth > 0 && record.clientHeight > 0) {
        line += " --client " + std::to_string(record.clientWidth) + "x" +
                std::to_string(record.clientHeight);
    }
    for (const SettingEntry& entry : kSettings) {
        if ((entry.frontEnds & kRenderTool) == 0) continue;
        const int32_t value = record.settings.*entry.field;
        if (value == entry.defaultValue) continue;
        line += std::string(" --") + entry.option + " " + std::to_string(value);
    }
    return line;
}

std::string AddHistoryLine(const std::string& history, const std::string& line, int keep) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < history.size()) {
        size_t end = history.find('\n', start);
        if (end == std::string::npos) end = history.size();
        std::string text = history.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.find_first_not_of(" \t") != std::string::npos) lines.push_back(text);
        start = end + 1;
    }
    lines.push_back(line);
    const size_t first = lines.size() > static_cast<size_t>(keep > 0 ? keep : 1)
                             ? lines.size() - static_cast<size_t>(keep > 0 ? keep : 1)
                             : 0;
    std::string text;
    for (size_t i = first; i < lines.size(); ++i) text += lines[i] + "\n";
    return text;
}
