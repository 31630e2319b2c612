#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "base/BuildInfo.h"

namespace tallyport {
namespace {

CommandLine Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tallyport");
    return ParseCommandLine(arguments);
}

TEST(CommandLine, NoArgumentsRunsWithTheWindowByTheFolderRule) {
    const CommandLine line = Parse({});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_FALSE(line.headless);
    EXPECT_FALSE(line.configFile.has_value());
}

TEST(CommandLine, HeadlessAndConfigInEveryUsualSpelling) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--headless", "--config", "shop/Tallyport.ini"},
             {"--config=shop/Tallyport.ini", "--headless"},
             {"-c", "shop/Tallyport.ini", "-headless"},
         }) {
        const CommandLine line = Parse(arguments);
        EXPECT_EQ(line.action, CommandLine::Action::Run) << arguments[0];
        EXPECT_TRUE(line.headless) << arguments[0];
        ASSERT_TRUE(line.configFile.has_value()) << arguments[0];
        EXPECT_EQ(*line.configFile, "shop/Tallyport.ini");
    }
}

TEST(CommandLine, HelpListsEveryOptionInTheProgramsLanguage) {
    for (const char* option : {"--help", "-h"}) {
        const CommandLine line = Parse({option, "--headless"});
        EXPECT_EQ(line.action, CommandLine::Action::Help);
        EXPECT_EQ(line.text.rfind("Utilizare: tallyport [optiuni]\n", 0), 0u) << line.text;
        for (const char* listed :
             {"--help", "--version", "--headless", "--config <FISIER>", "--status", "--json"}) {
            EXPECT_NE(line.text.find(listed), std::string::npos) << listed << "\n" << line.text;
        }
        EXPECT_EQ(line.text.find("Usage"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("executable_name"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("Options:"), std::string::npos) << line.text;
    }
}

TEST(CommandLine, VersionIsTheCaptionOfTheWindow) {
    const CommandLine line = Parse({"--version"});
    EXPECT_EQ(line.action, CommandLine::Action::Version);
    EXPECT_EQ(line.text, std::string("Tallyport versiunea ") + build_info::kVersion + "\n");
}

TEST(CommandLine, MistakesAreErrorsThatNameThem) {
    CommandLine line = Parse({"--headles"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("Optiune necunoscuta: headles"), std::string::npos) << line.text;

    line = Parse({"--config"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("config"), std::string::npos) << line.text;

    line = Parse({"Tallyport.ini"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("Argument neasteptat: Tallyport.ini"), std::string::npos);
}

TEST(CommandLine, StatusWithOrWithoutJsonAndOnlyWithStatus) {
    CommandLine line = Parse({"--status"});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_TRUE(line.status);
    EXPECT_FALSE(line.json);
    line = Parse({"--json", "--status", "--config", "shop/Tallyport.ini"});
    EXPECT_TRUE(line.status);
    EXPECT_TRUE(line.json);
    EXPECT_EQ(line.configFile, "shop/Tallyport.ini");
    line = Parse({"--json"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("--json se foloseste numai cu --status"), std::string::npos);
    EXPECT_FALSE(Parse({}).status);
}

}  // namespace
}  // namespace tallyport
