#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

#include "common/RecordingHost.h"
#include "common/TempTree.h"
#include "engine/RunController.h"

// A program folder, a source tree, a destination and a temp folder of the test's own, and an engine
// behind a recording host whose log lines carry the stamp "S".
struct EngineWorld
{
    testing_support::TempDir root;
    testing_support::RecordingHost host;
    std::unique_ptr<engine::RunController> engine;

    EngineWorld()
    {
        for (const char* folder : {"program", "src", "dest", "temp"}) {
            testing_support::MakeFolders(root / folder);
        }
        host.source = root / "src";
        host.dest = root / "dest";
        host.temp = root / "temp";
        engine = std::make_unique<engine::RunController>(host, root / "program", [] { return std::string("S"); });
    }

    void Migrate()
    {
        engine->StartRun();
        engine->RunUntilIdle();
    }

    std::vector<std::string> ErrorLines() const { return testing_support::LogLines(root / "program/Logs/Error.txt"); }
    // The debug log without its run-report lines, which carry the time; each must name a report.
    std::vector<std::string> DebugLines() const
    {
        auto lines = testing_support::LogLines(root / "program/Logs/DebugPelta.log");
        std::erase_if(lines, [](const std::string& line) {
            constexpr std::string_view Prefix = "S - Run report: ";
            if (!line.starts_with(Prefix)) {
                return false;
            }
            EXPECT_TRUE(std::filesystem::exists(line.substr(Prefix.size()))) << line;
            return true;
        });
        return lines;
    }

    // The destination's files by content; every name must be a fresh lower-case UUID with ".dcm".
    std::vector<std::string> DestContents() const
    {
        std::vector<std::string> contents;
        for (const auto& name : testing_support::Names(root / "dest")) {
            EXPECT_TRUE(testing_support::IsDestinationName(name)) << name;
            contents.push_back(testing_support::ReadFile(root / "dest" + "/" + name));
        }
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    std::string LastMessage() const { return host.messages.empty() ? "" : host.messages.back().text; }
};

class EngineFixture : public ::testing::Test, public EngineWorld
{ };

inline std::string Summary(int migrated, int checked)
{
    return std::to_string(migrated) + " von " + std::to_string(checked)
        + " Dateien konnten erfolgreich migriert werden.\r\n\r\nBitte legen Sie die nächste CD / DVD ein.";
}
