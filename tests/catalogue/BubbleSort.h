#pragma once
// The catalogue's original order, kept only as a reference for the tests and the bench: passes
// over neighbouring pairs, swapping a pair whose first entry compares greater, until a pass makes
// no swap. Returns the permutation, so that the order of equal entries can be compared too.

#include "Catalogue.h"

#include <cstddef>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace velk::reference {

inline std::vector<std::size_t> BubbleOrder(const std::vector<std::string>& entries) {
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (std::size_t i = 0; i + 1 < order.size(); ++i) {
            if (CompareEntries(entries[order[i]], entries[order[i + 1]]) > 0) {
                std::swap(order[i], order[i + 1]);
                swapped = true;
            }
        }
    }
    return order;
}

} // namespace velk::reference
