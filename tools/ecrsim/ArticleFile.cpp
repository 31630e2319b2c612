#include "ecrsim/ArticleFile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {

namespace {

std::vector<std::string_view> SplitCommas(std::string_view line) {
    std::vector<std::string_view> values;
    for (;;) {
        const auto comma = line.find(',');
        values.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos) {
            return values;
        }
        line.remove_prefix(comma + 1);
    }
}

std::string Cut(std::string text, std::size_t width) {
    if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

}  // namespace

std::string UnescapeTableText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == '%' || next == 'c' || next == 'n' || next == '0') {
                ++i;
                c = next == '%' ? '%' : next == 'c' ? '\r' : next == 'n' ? '\n' : '\0';
            }
        }
        if (c == '\0') {
            break;  // a text ends at its first NUL
        }
        out += c;
    }
    return out;
}

std::string EscapeTableText(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '%':
                out += "%%";
                break;
            case '\r':
                out += "%c";
                break;
            case '\n':
                out += "%n";
                break;
            case '\0':
                out += "%0";
                break;
            default:
                out += c;
        }
    }
    return out;
}

ArticleFile ArticleFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open the article file " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return FromText(text.str(), path);
}

ArticleFile ArticleFile::FromText(std::string_view text, const std::string& origin) {
    ArticleFile file;
    int lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        auto fail = [&](const std::string& why) {
            throw std::runtime_error(origin + " line " + std::to_string(lineNo) + ": " + why);
        };
        const auto values = SplitCommas(line);
        if (values.size() != 6) {
            fail("6 values expected, found " + std::to_string(values.size()));
        }
        Article a;
        a.code = Cut(UnescapeTableText(values[0]), 13);
        a.dept = Cut(UnescapeTableText(values[1]), 2);
        const auto vat = ParseWhole(values[2]);
        const auto price = ParseNumber(values[3]);
        const auto comma = ParseWhole(values[4]);
        if (!vat || !price || !comma) {
            fail("VATGroup, Price and Comma must be numbers");
        }
        a.vatGroup = static_cast<int>(*vat);
        a.price = *price;
        a.comma = static_cast<int>(*comma);
        a.name = Cut(UnescapeTableText(values[5]), 40);
        if (!file.byCode_.emplace(a.code, file.articles_.size()).second) {
            fail("the code " + a.code + " appears twice");
        }
        file.articles_.push_back(std::move(a));
    }
    return file;
}

const Article* ArticleFile::Find(std::string_view code) const {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &articles_[it->second];
}

}  // namespace tallyport::ecrsim
