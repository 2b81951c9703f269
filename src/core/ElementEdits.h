#ifndef VELMORA_ELEMENTEDITS_H
#define VELMORA_ELEMENTEDITS_H

#include "core/ElementSelection.h"

#include <cstddef>
#include <vector>

/// What the user did to the elements of one object: hidden elements are not drawn, deleted
/// ones are neither drawn nor saved. The object's arrays never change: an element keeps its
/// index and its values whatever is hidden or deleted, so picking and saving still name the
/// file's own elements, and undoing a deletion only clears bits.
///
/// Every deletion ("Delete", "Keep only") is one step that undo() takes back and redo() does
/// again; a new deletion forgets the steps undone before it.
class ElementEdits {
public:
    explicit ElementEdits(size_t elements = 0) { resize(elements); }

    /// n elements; new ones are shown; the undo history is forgotten when n changes.
    void resize(size_t elements);
    size_t size() const { return deleted.size(); }

    const ElementSelection &getHidden() const { return hidden; }
    const ElementSelection &getDeleted() const { return deleted; }
    bool isDeleted(size_t i) const { return deleted.contains(i); }
    /// Neither hidden nor deleted.
    bool isShown(size_t i) const { return !deleted.contains(i) && !hidden.contains(i); }
    /// The elements not deleted.
    size_t keptCount() const { return size() - deleted.count(); }

    /// Hides the selected elements; returns how many were shown before.
    size_t hide(const ElementSelection &selection);
    /// Shows every hidden element again.
    void showAll() { hidden.clear(); }

    /// Deletes the selected elements not deleted yet, as one step; returns their number (0
    /// makes no step).
    size_t remove(const ElementSelection &selection);
    /// Deletes every element outside the selection, as one step; returns their number.
    size_t keepOnly(const ElementSelection &selection);

    /// Takes back the last deletion step; false when there is none.
    bool undo();
    /// Does again the last step undone; false when there is none.
    bool redo();
    size_t undoSteps() const { return done.size(); }
    size_t redoSteps() const { return undone.size(); }

private:
    size_t step(ElementSelection &&newlyDeleted);
    /// Takes the last step of `from` to the end of `to`, deleting its elements again or
    /// bringing them back; false when `from` is empty.
    bool moveLastStep(std::vector<ElementSelection> &from, std::vector<ElementSelection> &to, bool deleting);

    ElementSelection hidden;
    ElementSelection deleted;
    std::vector<ElementSelection> done;   ///< the elements each step deleted, oldest first
    std::vector<ElementSelection> undone; ///< the steps undone, the last undone last
};

#endif
