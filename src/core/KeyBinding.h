#ifndef VELMORA_KEYBINDING_H
#define VELMORA_KEYBINDING_H

#include "core/KeyCodes.h"

#include <cstddef>
#include <string>
#include <vector>

/// One action of an element kind: the value of the kind's action enum, the keys that run it,
/// the label of the panel control or menu item that runs it (null when none), a one-line
/// description for the key tables, and how the shared dispatcher wraps it.
struct KeyBinding {
    enum Flags : unsigned {
        BUSY = 1u,               ///< the busy cursor shows while it runs
        REDRAW = 2u,             ///< a taken action asks for a new frame
        NEXT_COLOR_MAP = 8u,     ///< runs as the element's colour-map step forward
        PREVIOUS_COLOR_MAP = 16u, ///< ... and back
        SHARED = 32u             ///< runs in a part several kinds share (GLObject::runSharedAction)
    };
    static constexpr int kMaxKeys = 4;

    int action;
    int keys[kMaxKeys]; ///< 0 ends the list; none for an action only panels run
    const char *label;
    const char *description;
    unsigned flags;

    bool hasKey(int key) const;
    /// No key of the keyboard runs it: only a panel does, and it is in no key table.
    bool panelOnly() const { return keys[0] == 0; }
    /// The keys as the key tables show them, joined by ", " ("<, ,", "Page Up").
    std::string keyText() const;
    std::vector<int> keyList() const;
};

/// The name of a key code in the key tables: the character for printable keys, "Space",
/// "Return", "Escape", "Left", ..., "Page Down".
std::string keyName(int key);

/// The one table of an element kind. A kind that specialises another (a simplex mesh is
/// drawn as a mesh) names the other's table as fallback: keys that are not its own go there.
/// A kind with colour maps asks for the Page Up / Page Down rows that step through them: they
/// are the same for every such kind and follow the kind's own rows.
class BindingTable {
public:
    enum ColorMaps { WITHOUT_COLOR_MAPS, WITH_COLOR_MAPS };
    /// The action values of the colour-map rows, outside every kind's own actions.
    enum : int { NEXT_COLOR_MAP = -1, PREVIOUS_COLOR_MAP = -2 };

    template <size_t N>
    BindingTable(const char *kindName, const KeyBinding (&table)[N], const BindingTable *fallbackTable = nullptr)
        : BindingTable(kindName, table, N, WITHOUT_COLOR_MAPS, fallbackTable)
    {
    }
    template <size_t N>
    BindingTable(const char *kindName, const KeyBinding (&table)[N], ColorMaps maps)
        : BindingTable(kindName, table, N, maps, nullptr)
    {
    }
    /// A kind that shares rows with other kinds (the selection and editing keys) lists them
    /// after its own, before the colour-map rows.
    template <size_t N>
    BindingTable(const char *kindName, const KeyBinding (&table)[N], ColorMaps maps,
                 const std::vector<KeyBinding> &shared)
        : BindingTable(kindName, table, N, maps, nullptr, &shared)
    {
    }

    /// The row taking `key` here or in the fallback; null for a key of no action.
    const KeyBinding *find(int key) const;
    /// The row of `action` here or in the fallback.
    const KeyBinding &row(int action) const;
    /// Whether `row` is one of this table's own rows (not the fallback's).
    bool owns(const KeyBinding &r) const { return &r >= begin() && &r < end(); }

    const KeyBinding *begin() const { return rows.data(); }
    const KeyBinding *end() const { return rows.data() + rows.size(); }
    const char *getKind() const { return kind; }
    const BindingTable *getFallback() const { return fallback; }

private:
    BindingTable(const char *kindName, const KeyBinding *table, size_t count, ColorMaps maps,
                 const BindingTable *fallbackTable, const std::vector<KeyBinding> *shared = nullptr);

    const char *kind;
    std::vector<KeyBinding> rows;
    const BindingTable *fallback;
};

/// The value stored in a row for the action enum `a`.
template <class A>
constexpr int actionValue(A a)
{
    return static_cast<int>(a);
}

#endif
