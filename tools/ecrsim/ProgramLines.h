#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ecrsim/Journal.h"
#include "ecrsim/SaleRules.h"

namespace tallyport::ecrsim {

// A sale or discount line the program was told for the open receipt.
struct ToldLine {
    TranFields fields;
    Span span;  // the exchange that told it
    std::string origin;
};

// A told line as the next closing must write it: `optional` when the program may not hold it.
struct HeldLine {
    const ToldLine* line = nullptr;
    bool optional = false;
};

// What the program may hold for one register's open receipt. A kill that cuts an exchange
// leaves the program either with what the exchange told it or without; a void then takes the
// last line the program holds, which depends on which. So the model is the set of states the
// program may be in, each the lines it holds in the order they were told. A line whose exchange
// was cut stays one entry marked "perhaps" until a void needs to know: only then does the state
// split. States that come out equal are kept once.
//
// Owned by one register's clerk and used from its thread only.
class ProgramLines {
public:
    // A line told; `kept` is false when a kill may have cut the exchange before the program
    // kept it.
    void Add(ToldLine line, bool kept);
    // A void the program acknowledged; `kept` is false when the program may have lost it.
    void Void(bool kept);
    // The lines of every state merged in the order they were told: a line is required when
    // every state holds it for sure, optional otherwise. Exact while there is one state.
    std::vector<HeldLine> Lines() const;
    // The closing took the lines: the program holds none any more.
    void Clear();

    std::size_t States() const { return states_.size(); }

private:
    struct Entry {
        std::size_t line;  // index into told_
        bool perhaps;      // the program may not hold it
        bool operator==(const Entry&) const = default;
    };
    using State = std::vector<Entry>;
    static void VoidIn(State state, std::vector<State>& into);
    void KeepDistinct(std::vector<State> states);

    std::vector<ToldLine> told_;
    std::vector<State> states_{State{}};
};

}  // namespace tallyport::ecrsim
