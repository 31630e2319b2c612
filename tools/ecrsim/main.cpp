// tallyport-ecrsim: a shop of simulated cash registers for the Tallyport program.
#include <iostream>
#include <stdexcept>

#include "ecrsim/ArticleFile.h"
#include "ecrsim/Shop.h"
#include "ecrsim/ShopOptions.h"

int main(int argc, char** argv) {
    using namespace tallyport::ecrsim;
    BlockShopSignals();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    bool help = false;
    const auto options = ParseShopOptions(args, error, help);
    if (help) {
        std::cout << ShopHelpText();
        return 0;
    }
    if (!options) {
        std::cerr << "tallyport-ecrsim: " << error << "\n";
        return 2;
    }
    try {
        ShopSettings settings = ResolveSettings(*options);
        ArticleFile articles = ArticleFile::Load(settings.pluFile);
        if (articles.Articles().empty()) {
            throw std::runtime_error("the article file " + settings.pluFile + " holds no article");
        }
        Shop shop(*options, std::move(settings), std::move(articles));
        return shop.Run();
    } catch (const std::exception& e) {
        std::cerr << "tallyport-ecrsim: " << e.what() << "\n";
        return 2;
    }
}
