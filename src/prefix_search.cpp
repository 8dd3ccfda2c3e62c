#include "prefix_search.hpp"

namespace kelnor {

void show_spellings(const PrefixSearch& search, std::vector<Suggestion>& suggestions) {
    if (!search.folding || search.folding->empty()) return;
    for (Suggestion& suggestion : suggestions) {
        const auto spelling = search.folding->find(suggestion.term);
        if (spelling != search.folding->end()) suggestion.term = spelling->second;
    }
}

}  // namespace kelnor
