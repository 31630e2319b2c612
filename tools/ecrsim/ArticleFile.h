#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport::ecrsim {

// One row of the article file: CodPLU, Dept, VATGroup, Price, Comma, Name.
struct Article {
    std::string code;  // as stored, at most 13 characters
    std::string dept;  // at most 2 characters
    int vatGroup = 0;
    double price = 0;
    int comma = 0;
    std::string name;  // at most 40 characters
};

// The back office's article file, read with this tool's own reader: comma-separated lines
// without quoting, text values with the escapes %% %c %n %0, texts cut to their column widths.
// Loaded once by the main thread; read-only afterwards, so any thread may search it.
class ArticleFile {
public:
    // Throws std::runtime_error with the path and line on a file that cannot be read or a line
    // that does not convert, and on a code that appears twice.
    static ArticleFile Load(const std::string& path);
    static ArticleFile FromText(std::string_view text, const std::string& origin);

    const Article* Find(std::string_view code) const;
    const std::vector<Article>& Articles() const { return articles_; }

private:
    std::vector<Article> articles_;
    std::map<std::string, std::size_t, std::less<>> byCode_;
};

// A text value of the table format with its escapes undone, cut at a NUL.
std::string UnescapeTableText(std::string_view text);
// The other way, for the register list this tool writes.
std::string EscapeTableText(std::string_view text);

}  // namespace tallyport::ecrsim
