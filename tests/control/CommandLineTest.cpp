#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/BuildInfo.h"
#include "control/CommandLine.h"

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

// The Windows console program: no window, the service's options.
CommandLine ParseConsole(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tallyport.exe");
    return ParseCommandLine(arguments, ProgramOptions{.window = false, .service = true});
}

TEST(CommandLine, AProgramWithoutAWindowServesInItsConsoleWithOrWithoutHeadless) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"--headless"}}) {
        const CommandLine line = ParseConsole(arguments);
        EXPECT_EQ(line.action, CommandLine::Action::Run);
        EXPECT_TRUE(line.headless);
        EXPECT_FALSE(line.service);
    }
    const CommandLine service = ParseConsole({"--service", "--config", "D:\\Magazin\\a.ini"});
    EXPECT_EQ(service.action, CommandLine::Action::Run);
    EXPECT_TRUE(service.service);
    EXPECT_TRUE(service.headless);
    EXPECT_EQ(service.configFile, "D:\\Magazin\\a.ini");
    const CommandLine install = ParseConsole({"--install-service", "-c=D:\\b.ini"});
    EXPECT_EQ(install.action, CommandLine::Action::InstallService);
    EXPECT_EQ(install.configFile, "D:\\b.ini");
    EXPECT_EQ(ParseConsole({"--remove-service"}).action, CommandLine::Action::RemoveService);
}

TEST(CommandLine, EachProgramOffersItsOwnOptions) {
    // The window's program has no service options...
    for (const char* option : {"--service", "--install-service", "--remove-service"}) {
        const CommandLine line = Parse({option});
        EXPECT_EQ(line.action, CommandLine::Action::Error) << option;
        EXPECT_NE(line.text.find("Optiune necunoscuta: " + std::string(option + 2)),
                  std::string::npos)
            << line.text;
        EXPECT_EQ(Parse({"--help"}).text.find(option), std::string::npos) << option;
    }
    // ...the console program lists them, and says it serves without --headless too.
    const std::string help = ParseConsole({"--help"}).text;
    for (const char* listed : {"--service", "--install-service", "--remove-service", "--headless",
                               "--config <FISIER>", "--status", "--json"}) {
        EXPECT_NE(help.find(listed), std::string::npos) << listed << "\n" << help;
    }
    std::string words;  // the text without its line breaks and indents
    for (char c : help) {
        if (c != '\n' && !(c == ' ' && !words.empty() && words.back() == ' ')) {
            words += c;
        } else if (c == '\n' && !words.empty() && words.back() != ' ') {
            words += ' ';
        }
    }
    EXPECT_NE(words.find("Asa porneste programul si fara optiuni."), std::string::npos) << help;
    for (std::size_t start = 0; start < help.size();) {
        const std::size_t end = help.find('\n', start);
        EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
        start = end + 1;
    }
}

TEST(CommandLine, ModesThatExcludeEachOtherAndOddSpellings) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--status", "--service"},
                                               {"--install-service", "--remove-service"},
                                               {"--status", "--install-service"}}) {
        const CommandLine line = ParseConsole(arguments);
        EXPECT_EQ(line.action, CommandLine::Action::Error) << arguments[0] << arguments[1];
        EXPECT_NE(line.text.find("se exclud"), std::string::npos) << line.text;
    }
    CommandLine line = ParseConsole({"--headless=1"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("nu primeste valoare"), std::string::npos) << line.text;
    // After "--" everything is an argument, which the program takes none of.
    line = ParseConsole({"--", "--status"});
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_NE(line.text.find("Argument neasteptat: --status"), std::string::npos) << line.text;
    // A lone "-" is an argument too; the last --config wins.
    EXPECT_EQ(ParseConsole({"-"}).action, CommandLine::Action::Error);
    EXPECT_EQ(ParseConsole({"-c", "a.ini", "--config", "b.ini"}).configFile, "b.ini");
}

}  // namespace
}  // namespace tallyport
