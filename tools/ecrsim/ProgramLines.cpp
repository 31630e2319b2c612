#include "ecrsim/ProgramLines.h"

#include <algorithm>

namespace tallyport::ecrsim {

namespace {

// Beyond this many states the model stops telling them apart: every line of every state
// becomes optional in one state. A run would need several kills inside one receipt, each
// cutting an exchange, to get here.
constexpr std::size_t kMaxStates = 64;

}  // namespace

void ProgramLines::Add(ToldLine line, bool kept) {
    told_.push_back(std::move(line));
    for (State& state : states_) {
        state.push_back(Entry{told_.size() - 1, !kept});
    }
}

// The void takes the last line the program holds. Each "perhaps" line at the end is either
// held (and goes) or not held (and the void goes on to the line before it).
void ProgramLines::VoidIn(State state, std::vector<State>& into) {
    while (!state.empty()) {
        const Entry last = state.back();
        state.pop_back();
        into.push_back(state);
        if (!last.perhaps) {
            return;
        }
    }
    into.push_back(state);  // the program held none of them: the void changed nothing
}

void ProgramLines::Void(bool kept) {
    std::vector<State> next;
    for (const State& state : states_) {
        if (!kept) {
            next.push_back(state);  // the void itself may be lost
        }
        VoidIn(state, next);
    }
    KeepDistinct(std::move(next));
}

void ProgramLines::KeepDistinct(std::vector<State> states) {
    std::vector<State> distinct;
    for (State& state : states) {
        if (std::find(distinct.begin(), distinct.end(), state) == distinct.end()) {
            distinct.push_back(std::move(state));
        }
    }
    if (distinct.size() > kMaxStates) {
        State merged;
        for (std::size_t index = 0; index < told_.size(); ++index) {
            const bool held =
                std::any_of(distinct.begin(), distinct.end(), [index](const State& s) {
                    return std::any_of(s.begin(), s.end(),
                                       [index](const Entry& e) { return e.line == index; });
                });
            if (held) {
                merged.push_back(Entry{index, true});
            }
        }
        distinct = {merged};
    }
    states_ = std::move(distinct);
}

std::vector<HeldLine> ProgramLines::Lines() const {
    std::vector<HeldLine> lines;
    for (std::size_t index = 0; index < told_.size(); ++index) {
        bool inAny = false;
        bool sureInAll = true;
        for (const State& state : states_) {
            const auto entry = std::find_if(state.begin(), state.end(),
                                            [index](const Entry& e) { return e.line == index; });
            inAny = inAny || entry != state.end();
            sureInAll = sureInAll && entry != state.end() && !entry->perhaps;
        }
        if (inAny) {
            lines.push_back(HeldLine{&told_[index], !sureInAll});
        }
    }
    return lines;
}

void ProgramLines::Clear() {
    told_.clear();
    states_ = {State{}};
}

}  // namespace tallyport::ecrsim
