#include "core/ElementEdits.h"

#include <utility>

void ElementEdits::resize(size_t elements)
{
    if (elements != deleted.size()) {
        done.clear();
        undone.clear();
    }
    hidden.resize(elements);
    deleted.resize(elements);
}

size_t ElementEdits::hide(const ElementSelection &selection)
{
    size_t newly = 0;
    for (size_t i : selection)
        if (i < size() && isShown(i)) {
            hidden.add(i);
            ++newly;
        }
    return newly;
}

size_t ElementEdits::step(ElementSelection &&newlyDeleted)
{
    const size_t n = newlyDeleted.count();
    if (n == 0)
        return 0;
    deleted.addAll(newlyDeleted);
    done.push_back(std::move(newlyDeleted));
    undone.clear();
    return n;
}

size_t ElementEdits::remove(const ElementSelection &selection)
{
    ElementSelection newly(size());
    newly.addAll(selection);
    newly.removeAll(deleted);
    return step(std::move(newly));
}

size_t ElementEdits::keepOnly(const ElementSelection &selection)
{
    ElementSelection newly(size());
    newly.addAll(selection);
    newly.invert();
    newly.removeAll(deleted);
    return step(std::move(newly));
}

bool ElementEdits::undo() { return moveLastStep(done, undone, false); }

bool ElementEdits::redo() { return moveLastStep(undone, done, true); }

bool ElementEdits::moveLastStep(std::vector<ElementSelection> &from, std::vector<ElementSelection> &to, bool deleting)
{
    if (from.empty())
        return false;
    if (deleting)
        deleted.addAll(from.back());
    else
        deleted.removeAll(from.back());
    to.push_back(std::move(from.back()));
    from.pop_back();
    return true;
}
