#include "core/KeyBinding.h"

#include "core/KeyCodes.h"

#include <cstdio>
#include <stdexcept>

bool KeyBinding::hasKey(int key) const
{
    for (int i = 0; i < kMaxKeys && keys[i]; ++i)
        if (keys[i] == key)
            return true;
    return false;
}

std::vector<int> KeyBinding::keyList() const
{
    std::vector<int> list;
    for (int i = 0; i < kMaxKeys && keys[i]; ++i)
        list.push_back(keys[i]);
    return list;
}

std::string KeyBinding::keyText() const
{
    std::string text;
    for (int key : keyList()) {
        if (!text.empty())
            text += ", ";
        text += keyName(key);
    }
    return text;
}

std::string keyName(int key)
{
    switch (key) {
    case KeyCode::SPACE: return "Space";
    case KeyCode::RETURN: return "Return";
    case KeyCode::ESCAPE: return "Escape";
    case KeyCode::LEFT: return "Left";
    case KeyCode::RIGHT: return "Right";
    case KeyCode::UP: return "Up";
    case KeyCode::DOWN: return "Down";
    case KeyCode::HOME: return "Home";
    case KeyCode::END: return "End";
    case KeyCode::PAGE_UP: return "Page Up";
    case KeyCode::PAGE_DOWN: return "Page Down";
    case KeyCode::AZERTY_2: return "\xc3\xa9"; // the key's Latin-1 character, written in UTF-8
    default: break;
    }
    if (key > ' ' && key < 127)
        return std::string(1, static_cast<char>(key));
    char code[16];
    std::snprintf(code, sizeof code, "%d", key);
    return code;
}

BindingTable::BindingTable(const char *kindName, const KeyBinding *table, size_t count, ColorMaps maps,
                           const BindingTable *fallbackTable, const std::vector<KeyBinding> *shared)
    : kind(kindName), rows(table, table + count), fallback(fallbackTable)
{
    if (shared)
        rows.insert(rows.end(), shared->begin(), shared->end());
    if (maps == WITH_COLOR_MAPS) {
        // A step may recolour every vertex or rebuild every texture.
        constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
        rows.push_back(
            {NEXT_COLOR_MAP, {KeyCode::PAGE_UP}, nullptr, "next colour map", F | KeyBinding::NEXT_COLOR_MAP});
        rows.push_back({PREVIOUS_COLOR_MAP, {KeyCode::PAGE_DOWN}, nullptr, "previous colour map",
                        F | KeyBinding::PREVIOUS_COLOR_MAP});
    }
}

const KeyBinding *BindingTable::find(int key) const
{
    for (const KeyBinding &r : *this)
        if (r.hasKey(key))
            return &r;
    return fallback ? fallback->find(key) : nullptr;
}

const KeyBinding &BindingTable::row(int action) const
{
    for (const KeyBinding &r : *this)
        if (r.action == action)
            return r;
    if (fallback)
        return fallback->row(action);
    // Every action of a kind has its row: a missing one is a fault of the table.
    throw std::logic_error(std::string("no row for an action of ") + kind);
}
